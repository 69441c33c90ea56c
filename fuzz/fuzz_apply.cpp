// Fuzzes the applier on arbitrary patch bytes over a small input, against the reference model:
// the same output bytes, the same result and the same final position, and the output never
// opened without a header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/ips_apply.h"
#include "tests/support/ips_model.h"

namespace {

using bytes = std::vector<uint8_t>;

// Keeps records near the start of the file, so that each run stays small: the top byte of every
// offset that is not the end marker is cut to its lowest bit (offsets below 128 KiB).
bytes with_near_offsets(const uint8_t* data, size_t size)
{
    bytes patch(data, data + size);
    size_t pos = 5;
    while (pos + 3 <= patch.size()) {
        if (patch[pos] == 'E' && patch[pos + 1] == 'O' && patch[pos + 2] == 'F') break;
        patch[pos] &= 1;
        size_t length_at = pos + 3;
        if (length_at + 2 > patch.size()) break;
        size_t length = size_t(patch[length_at]) << 8 | patch[length_at + 1];
        pos = length_at + 2 + (length != 0 ? length : 3);
    }
    return patch;
}

std::string work_file(const char* role)
{
    char name[] = "/tmp/tarnfix-fuzz-apply-XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    return std::string(name) + role;
}

bytes read_all(const std::string& path)
{
    bytes contents;
    FILE* file = fopen(path.c_str(), "rb");
    int c;
    while ((c = fgetc(file)) != EOF) contents.push_back(uint8_t(c));
    fclose(file);
    return contents;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The applier's messages are not what is checked here.
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20) return -1;
    const bytes patch = with_near_offsets(data, size);
    bytes input(300);
    for (size_t i = 0; i < input.size(); ++i) input[i] = uint8_t(i * 7 + 1);

    // The output as the copy leaves it, its head (which the applier builds) filled with other bytes.
    static const std::string input_path = work_file("-in");
    static const std::string path = work_file("-out");
    patch_cursor cursor = {patch.data(), uint32_t(patch.size()), 0};
    const uint32_t head_size = ips_patch_reach(&cursor);
    bytes copied = input;
    for (uint32_t i = 0; i < head_size && i < copied.size(); ++i) copied[i] = 0xA5;
    for (const auto& [name, contents] : {std::pair{&input_path, &input}, std::pair{&path, &copied}}) {
        FILE* file = fopen(name->c_str(), "wb");
        fwrite(contents->data(), 1, contents->size(), file);
        fclose(file);
    }
    int result = apply_ips_patch(path.c_str(), input_path.c_str(), head_size, &cursor);
    tarnfix_model::model_outcome expected = tarnfix_model::apply_model(patch, input);

    if (result != expected.result) abort();
    if (cursor.pos != expected.pos) abort();
    if (read_all(path) != (expected.header_found ? expected.output : input)) abort();
    return 0;
}
