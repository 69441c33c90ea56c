// Fuzzes the loader on arbitrary stub files (built with small offsets, so that short inputs reach
// every path): it returns null, or exactly the bytes the size field names, all inside the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "engine/patch_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::string path = [] {
        char name[] = "/tmp/tarnfix-fuzz-loader-XXXXXX";
        close(mkstemp(name));
        return std::string(name);
    }();
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(data, 1, size, file);
    fclose(file);

    embedded_patch patch = {nullptr, 0xDEADBEEF, nullptr, 0};
    if (!load_embedded_patch(path.c_str(), &patch)) {
        if (patch.size != 0xDEADBEEF || patch.data) abort();
        return 0;
    }
    const uint32_t patch_size = patch.size;
    const uint8_t* block = patch.data;
    if (size < PATCH_DATA_OFFSET || patch_size > size - PATCH_DATA_OFFSET) abort();
    uint32_t declared = uint32_t(data[PATCH_SIZE_OFFSET]) | uint32_t(data[PATCH_SIZE_OFFSET + 1]) << 8 |
                        uint32_t(data[PATCH_SIZE_OFFSET + 2]) << 16 | uint32_t(data[PATCH_SIZE_OFFSET + 3]) << 24;
    if (declared != patch_size) abort();
    if (patch_size && memcmp(block, data + PATCH_DATA_OFFSET, patch_size) != 0) abort();
    release_embedded_patch(&patch);
    return 0;
}
