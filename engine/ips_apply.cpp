// IPS applier. The patch is read strictly from front to back; every number is big-endian:
// "PATCH", then records of offset (3 bytes) and length (2), followed by length data bytes, or for
// length 0 by a run count (2) and one value byte; the offset bytes "EOF" end the patch.
#include "engine/ips_apply.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// Takes count bytes: where they lie in the patch, or null when the patch cannot supply them in full
// (none of them is then taken, and the field reads as zero bytes). pos advances by the full width
// either way, held at the top of its range so that it never wraps back below size.
const uint8_t* take_block(patch_cursor* cursor, uint32_t count)
{
    const bool whole = cursor->pos <= cursor->size && count <= cursor->size - cursor->pos;
    const uint8_t* block = whole ? cursor->data + cursor->pos : nullptr;
    cursor->pos = count <= UINT32_MAX - cursor->pos ? cursor->pos + count : UINT32_MAX;
    return block;
}

void take_bytes(patch_cursor* cursor, void* destination, uint32_t count)
{
    const uint8_t* block = take_block(cursor, count);
    if (block)
        memcpy(destination, block, count);
    else
        memset(destination, 0, count);
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

// What a walk over the records found.
struct record_walk {
    int reached_end;  // the end marker was read
    uint32_t pos;     // where the walk stopped
    uint32_t reach;   // one past the last byte any record writes
};

// Places a record's count bytes at offset, a copy of data or value repeated when data is null,
// as far as they fall in the window of window_size bytes from window_start.
void place_in_window(uint8_t* window, uint32_t window_start, uint32_t window_size, uint32_t offset,
                     const uint8_t* data, uint8_t value, uint32_t count)
{
    uint32_t first = offset > window_start ? offset : window_start;
    uint32_t end = offset + count < window_start + window_size ? offset + count : window_start + window_size;
    if (first >= end) return;
    if (data)
        memcpy(window + (first - window_start), data + (first - offset), end - first);
    else
        memset(window + (first - window_start), value, end - first);
}

// Walks the records after the header, as a run carries them out, from a copy of the cursor: the
// bytes each record writes that fall in the window (when one is given) are placed there, later
// records over earlier ones. A data block the patch cannot supply in full writes zeros.
record_walk walk_records(patch_cursor cursor, uint8_t* window, uint32_t window_start,
                         uint32_t window_size)
{
    record_walk walk = {0, 0, 0};
    while (cursor.pos < cursor.size) {
        // The end marker is the three offset bytes "EOF"; unfilled bytes read as zero, so a patch
        // cut inside an offset never ends here.
        uint32_t offset = take_byte(&cursor) << 16;
        offset |= take_byte(&cursor) << 8;
        offset |= take_byte(&cursor);
        if (offset == 0x454F46) {
            walk.reached_end = 1;
            break;
        }

        // A data record's block, or a run record's count and value.
        uint32_t count = take_u16(&cursor);
        const uint8_t* data = nullptr;
        uint8_t value = 0;
        if (count != 0) {
            data = take_block(&cursor, count);
        } else {
            count = take_u16(&cursor);
            value = static_cast<uint8_t>(take_byte(&cursor));
        }
        if (count == 0) continue;
        if (offset + count > walk.reach) walk.reach = offset + count;
        if (window) place_in_window(window, window_start, window_size, offset, data, value, count);
    }
    walk.pos = cursor.pos;
    return walk;
}

// Takes the header; 1 when it is "PATCH".
int skip_header(patch_cursor* cursor)
{
    uint8_t header[5];
    take_bytes(cursor, header, sizeof header);
    return memcmp(header, "PATCH", sizeof header) == 0;
}

// One window of the head is built in memory at a time; large enough for few passes over the
// patch, small enough to cost little to touch.
constexpr uint32_t WINDOW_SIZE = 1 << 20;

// Builds the output's first head_size bytes window by window: the input's bytes (zeros past its
// end) with every record's bytes in the window over them, each window written once. 0 after saying
// what failed, or quietly when an ending signal came.
int build_head(intptr_t output, const char* output_name, const char* input_name,
               const patch_cursor& records, uint32_t head_size)
{
    if (head_size == 0) return 1;
    intptr_t input;
    if (!platform_open_for_reading(input_name, &input)) {
        console_printf("\rERROR : Can't open %s\n", input_name);
        return 0;
    }
    auto* window = static_cast<uint8_t*>(malloc(WINDOW_SIZE));
    if (!window) {
        console_print("\rERROR : Failed to allocate memory\n");
        platform_close_file(input);
        return 0;
    }

    int built = 1;
    for (uint64_t start = 0; built && start < head_size; start += WINDOW_SIZE) {
        if (platform_interrupted()) {
            built = 0;
            break;
        }
        const uint32_t size = static_cast<uint32_t>(head_size - start < WINDOW_SIZE ? head_size - start : WINDOW_SIZE);
        size_t got = 0;
        if (!platform_read_at(input, start, window, size, &got)) {
            console_printf("\rERROR : Failed to read %s\n", input_name);
            built = 0;
            break;
        }
        memset(window + got, 0, size - got);
        walk_records(records, window, static_cast<uint32_t>(start), size);
        if (!platform_write_at(output, start, window, size)) {
            console_printf("\rERROR : Failed to write %s\n", output_name);
            built = 0;
        }
    }
    free(window);
    platform_close_file(input);
    return built;
}

}  // namespace

uint32_t ips_patch_reach(const patch_cursor* cursor)
{
    patch_cursor walker = *cursor;
    if (!skip_header(&walker)) return 0;
    return walk_records(walker, nullptr, 0, 0).reach;
}

int apply_ips_patch(const char* output_name, const char* input_name, uint32_t head_size,
                    patch_cursor* cursor)
{
    if (!output_name || !input_name) return 0;

    // The header comes first; a patch without it never opens the output.
    if (!skip_header(cursor)) {
        console_print("ERROR : Can't find IPS header\n");
        return 0;
    }
    intptr_t output;
    if (!platform_open_for_update(output_name, &output)) {
        console_printf("ERROR : Can't open %s\n", output_name);
        return 0;
    }

    // Where the records end and how far they write; then the head, which holds all they write.
    const record_walk records = walk_records(*cursor, nullptr, 0, 0);
    int result = 0;
    if (build_head(output, output_name, input_name, *cursor,
                   records.reach > head_size ? records.reach : head_size)) {
        if (records.reached_end) {
            console_print("\rOK\n");
            result = 1;
        } else {
            console_printf("\rERROR : Can't find EOF[0x%.4x]\n", static_cast<unsigned>(records.pos));
        }
    }
    cursor->pos = records.pos;

    // A failed close can mean data that never reached the file.
    if (!platform_close_file(output) && result) {
        console_printf("\rERROR : Failed to write %s\n", output_name);
        result = 0;
    }
    return result;
}
