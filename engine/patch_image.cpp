// Loader of the patch a stub carries in its own file.
#include "engine/patch_image.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

int load_embedded_patch(const char* stub_path, embedded_patch* patch)
{
    FILE* stub = fopen(stub_path, "rb");
    if (!stub) return 0;

    // The size field; a file too short to hold it carries no patch.
    uint8_t size_bytes[4];
    if (fseek(stub, PATCH_SIZE_OFFSET, SEEK_SET) != 0 ||
        fread(size_bytes, sizeof size_bytes, 1, stub) != 1) {
        fclose(stub);
        return 0;
    }
    uint32_t size = uint32_t{size_bytes[0]} | uint32_t{size_bytes[1]} << 8 |
                    uint32_t{size_bytes[2]} << 16 | uint32_t{size_bytes[3]} << 24;

    // A damaged size field must not cost an allocation of up to 4 GiB: the file has to hold the
    // patch's last byte first.
    uint8_t last;
    if (size != 0 && (uint64_t{PATCH_DATA_OFFSET} + size - 1 > 0x7FFFFFFF ||
                      fseek(stub, static_cast<long>(PATCH_DATA_OFFSET + size - 1), SEEK_SET) != 0 ||
                      fread(&last, 1, 1, stub) != 1)) {
        fclose(stub);
        return 0;
    }

    // The file's own bytes where they can be mapped; the file was just seen to hold them all.
    const uint64_t mapping_length = uint64_t{PATCH_DATA_OFFSET} + size;
    const uint8_t* mapping = size != 0 ? platform_map_file(stub_path, mapping_length) : nullptr;
    if (mapping) {
        fclose(stub);
        *patch = {mapping + PATCH_DATA_OFFSET, size, mapping, mapping_length};
        return 1;
    }

    // Else a heap block; an empty patch is still a valid one.
    auto* block = static_cast<uint8_t*>(malloc(size != 0 ? size : 1));
    if (!block) {
        fclose(stub);
        return 0;
    }

    // A file shorter than the size says is damaged: none of it is handed on.
    if (fseek(stub, PATCH_DATA_OFFSET, SEEK_SET) != 0 ||
        (size != 0 && fread(block, size, 1, stub) != 1)) {
        free(block);
        fclose(stub);
        return 0;
    }
    fclose(stub);
    *patch = {block, size, nullptr, 0};
    return 1;
}

void release_embedded_patch(embedded_patch* patch)
{
    if (patch->mapping)
        platform_unmap_file(patch->mapping, patch->mapping_length);
    else
        free(const_cast<uint8_t*>(patch->data));
    *patch = {nullptr, 0, nullptr, 0};
}
