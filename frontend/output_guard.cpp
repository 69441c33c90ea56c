// Output target guards: the self-copy refusal and the overwrite question.
#include "frontend/output_guard.h"

#include <cstdio>

#include "frontend/output_name.h"
#include "platform/platform.h"

namespace {

// Equal texts with only the ASCII letters A to Z folded; every other byte must match exactly.
int same_text_ignoring_ascii_case(const char* first, const char* second)
{
    for (;; ++first, ++second) {
        unsigned char a = static_cast<unsigned char>(*first);
        unsigned char b = static_cast<unsigned char>(*second);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b) return 0;
        if (a == 0) return 1;
    }
}

}  // namespace

int file_exists(const char* path)
{
    if (!platform_is_regular_file(path)) return 0;
    FILE* file = fopen(path, "rb");
    if (!file) return 0;
    fclose(file);
    return 1;
}

int confirm_output_target(const char* input, const char* output_name, const char* stub_path)
{
    // The input named by the output's own short form.
    char short_name[NAME_CAPACITY] = {};
    platform_short_path(output_name, short_name, NAME_CAPACITY);
    if (same_text_ignoring_ascii_case(input, short_name)) {
        console_print("Error : Can't copy file\n");
        return 0;
    }

    // The input or the stub itself under another spelling: a run never replaces either.
    if (platform_same_file(input, output_name) || platform_same_file(stub_path, output_name)) {
        console_print("Error : Can't copy file\n");
        return 0;
    }

    if (!file_exists(output_name)) return 1;

    // Ask until a yes or a no comes; with no console to answer, the answer is no.
    console_printf("Warning : %s already exists. Overwrite?[y/n]", output_name);
    int answer = console_read_key_among("yYnN");
    if (answer == CONSOLE_END_OF_INPUT) {
        console_print("\n");
        return 0;
    }
    console_printf("%c\n", answer);
    if (answer == 'n' || answer == 'N') return 0;
    platform_make_writable(output_name);
    return 1;
}
