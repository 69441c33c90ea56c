// The stub: applies the IPS patch carried in its own file to a copy of the file it is given.
#include "engine/patch_image.h"
#include "frontend/patch_run.h"
#include "platform/platform.h"

int main(int argc, char** argv)
{
    char console_buffer[4096];
    console_begin(console_buffer, sizeof console_buffer);
    run_patch(argc, argv, stub_image.comment_slot, sizeof stub_image.comment_slot);
    finish_run();
    console_end();
    return 0;
}
