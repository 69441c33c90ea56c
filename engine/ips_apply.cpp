// IPS applier. The patch is read strictly from front to back; every number is big-endian:
// "PATCH", then records of offset (3 bytes) and length (2), followed by length data bytes, or for
// length 0 by a run count (2) and one value byte; the offset bytes "EOF" end the patch.
#include "engine/ips_apply.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// Takes count bytes into destination. A field the patch cannot supply in full reads as zero bytes,
// none of it taken from the patch, and pos still advances by its full width (held at the top of its
// range so that it never wraps back below size).
void take_bytes(patch_cursor* cursor, void* destination, uint32_t count)
{
    if (cursor->pos <= cursor->size && count <= cursor->size - cursor->pos)
        memcpy(destination, cursor->data + cursor->pos, count);
    else
        memset(destination, 0, count);
    cursor->pos = count <= UINT32_MAX - cursor->pos ? cursor->pos + count : UINT32_MAX;
}

uint32_t take_byte(patch_cursor* cursor)
{
    uint8_t byte;
    take_bytes(cursor, &byte, 1);
    return byte;
}

uint32_t take_u16(patch_cursor* cursor)
{
    uint32_t high = take_byte(cursor);
    return high << 8 | take_byte(cursor);
}

// Writes a data record's block at the stream's position; 0 on a failed allocation or write, after
// saying which.
int write_data_record(FILE* output, const char* output_name, patch_cursor* cursor, uint32_t length)
{
    void* block = malloc(length);
    if (!block) {
        console_print("\rERROR : Failed to allocate memory\n");
        return 0;
    }
    take_bytes(cursor, block, length);
    int written = fwrite(block, length, 1, output) == 1;
    free(block);
    if (!written) console_printf("\rERROR : Failed to write %s\n", output_name);
    return written;
}

// Writes a run record's value count times at the stream's position; 0 after a failed write.
int write_run_record(FILE* output, const char* output_name, patch_cursor* cursor)
{
    uint32_t count = take_u16(cursor);
    int value = static_cast<int>(take_byte(cursor));
    for (uint32_t i = 0; i < count; ++i) {
        if (fputc(value, output) == EOF) {
            console_printf("\rERROR : Failed to write %s\n", output_name);
            return 0;
        }
    }
    return 1;
}

}  // namespace

int apply_ips_patch(const char* output_name, patch_cursor* cursor)
{
    if (!output_name) return 0;

    // The header comes first; a patch without it never opens the output.
    uint8_t header[5];
    take_bytes(cursor, header, sizeof header);
    if (memcmp(header, "PATCH", sizeof header) != 0) {
        console_print("ERROR : Can't find IPS header\n");
        return 0;
    }

    FILE* output = fopen(output_name, "r+b");
    if (!output) {
        console_printf("ERROR : Can't open %s\n", output_name);
        return 0;
    }

    int result = 0;
    for (;;) {
        // A patch used up before its end marker is incomplete.
        if (cursor->pos >= cursor->size) {
            console_printf("\rERROR : Can't find EOF[0x%.4x]\n", static_cast<unsigned>(cursor->pos));
            break;
        }

        // The end marker is the three offset bytes "EOF"; unfilled bytes read as zero, so a patch
        // cut inside an offset never ends here.
        uint32_t offset = take_byte(cursor) << 16;
        offset |= take_byte(cursor) << 8;
        offset |= take_byte(cursor);
        if (offset == 0x454F46) {
            // Everything written must have reached the file before the run says OK.
            if (fflush(output) != 0) {
                console_printf("\rERROR : Failed to write %s\n", output_name);
                break;
            }
            console_print("\rOK\n");
            result = 1;
            break;
        }

        if (fseek(output, static_cast<long>(offset), SEEK_SET) != 0) {
            console_printf("\rERROR : Failed to write %s\n", output_name);
            break;
        }
        uint32_t length = take_u16(cursor);
        int carried_out = length != 0 ? write_data_record(output, output_name, cursor, length)
                                      : write_run_record(output, output_name, cursor);
        if (!carried_out) break;
    }

    // The close writes out the stream's last bytes, so its failure is a failed write too.
    if (fclose(output) != 0 && result) {
        console_printf("\rERROR : Failed to write %s\n", output_name);
        result = 0;
    }
    return result;
}
