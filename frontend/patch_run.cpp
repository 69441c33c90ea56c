// The run of the stub: banner, naming, guards, load, copy, apply, clean-up.
#include "frontend/patch_run.h"

#include "engine/ips_apply.h"
#include "engine/patch_image.h"
#include "frontend/output_guard.h"
#include "frontend/output_name.h"
#include "platform/platform.h"

namespace {

constexpr int STUB_VERSION_MAJOR = 1;
constexpr int STUB_VERSION_MINOR = 0;

// Loads, copies and applies once the output is settled; the patch block lives only in here.
void patch_output(const char* stub_path, const char* input, const char* output_name)
{
    embedded_patch patch;
    if (!load_embedded_patch(stub_path, &patch)) {
        console_print("ERROR : Failed to initialize\n");
        return;
    }
    patch_cursor cursor = {patch.data, patch.size, 0};

    // From the copy on, an interrupted run first removes what it made, then ends as interrupted.
    // The copy may leave out the head the records write: the applier builds it from the input.
    platform_hold_interruptions();
    const uint32_t head_size = ips_patch_reach(&cursor);
    const int copied = platform_copy_file(input, output_name, head_size);
    if (!copied || !platform_make_writable(output_name)) {
        release_embedded_patch(&patch);
        if (platform_interrupted()) {
            // A failed copy has removed its own file; an old output it could not replace stays.
            if (copied) platform_delete_file(output_name);
            platform_end_by_interruption();
        }
        console_print("ERROR : Failed to copy file\n");
        return;
    }

    console_printf("IPS size - %u Bytes\n", static_cast<unsigned>(cursor.size));
    int patched = apply_ips_patch(output_name, input, head_size, &cursor);
    release_embedded_patch(&patch);
    const int interrupted = platform_interrupted();
    if (!patched || interrupted) platform_delete_file(output_name);
    if (interrupted) platform_end_by_interruption();
}

}  // namespace

void print_comment(const char* comment_slot, unsigned slot_size)
{
    // Bytes go out as they are: the comment is never a format, so no conversion can reach memory.
    char text[256];
    unsigned length = 0;
    for (unsigned i = 0; i < slot_size && comment_slot[i] != '\0' && length < sizeof text; ++i) {
        text[length++] = comment_slot[i];
        if (comment_slot[i] == '%' && i + 1 < slot_size && comment_slot[i + 1] == '%') ++i;
    }
    console_write(text, length);
}

void run_patch(int argc, char** argv, const char* comment_slot, unsigned slot_size)
{
    // A program may be started with no argv[0] at all; it then names nothing.
    const char* stub_path = argc > 0 && argv[0] ? argv[0] : "";

    console_printf("Tarnfix Self-patching file v%d.%d\n", STUB_VERSION_MAJOR, STUB_VERSION_MINOR);
    console_print("\n");
    print_comment(comment_slot, slot_size);
    console_print("\n\n");

    if (argc < 2) {
        console_printf("Usage : %s < file >\n", stub_path);
        return;
    }
    const char* input = argv[1];

    char extension[NAME_CAPACITY] = {};
    char output_name[NAME_CAPACITY] = {};
    if (!get_extension(input, extension, NAME_CAPACITY) ||
        !make_output_name(stub_path, output_name, NAME_CAPACITY, extension)) {
        console_print("ERROR : Output name too long\n");
        return;
    }

    if (!confirm_output_target(input, output_name, stub_path)) return;
    patch_output(stub_path, input, output_name);
}

void finish_run()
{
    console_print("\nPress any key to exit...\n");
    console_read_key_among(nullptr);
}
