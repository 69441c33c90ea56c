// Loader of the patch a stub carries in its own file.
#include "engine/patch_image.h"

#include <cstdio>
#include <cstdlib>

uint8_t* load_embedded_patch(const char* stub_path, uint32_t* patch_size)
{
    FILE* stub = fopen(stub_path, "rb");
    if (!stub) return nullptr;

    // The size field; a file too short to hold it carries no patch.
    uint8_t size_bytes[4];
    if (fseek(stub, PATCH_SIZE_OFFSET, SEEK_SET) != 0 ||
        fread(size_bytes, sizeof size_bytes, 1, stub) != 1) {
        fclose(stub);
        return nullptr;
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
        return nullptr;
    }

    // An empty patch is still a valid block.
    auto* block = static_cast<uint8_t*>(malloc(size != 0 ? size : 1));
    if (!block) {
        fclose(stub);
        return nullptr;
    }

    // A file shorter than the size says is damaged: none of it is handed on.
    if (fseek(stub, PATCH_DATA_OFFSET, SEEK_SET) != 0 ||
        (size != 0 && fread(block, size, 1, stub) != 1)) {
        free(block);
        fclose(stub);
        return nullptr;
    }
    fclose(stub);
    if (patch_size) *patch_size = size;
    return block;
}
