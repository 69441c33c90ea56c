// IPS applier. The patch is read strictly from front to back; every number is big-endian:
// "PATCH", then records of offset (3 bytes) and length (2), followed by length data bytes, or for
// length 0 by a run count (2) and one value byte; the offset bytes "EOF" end the patch.
#include "engine/ips_apply.h"

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

// The bytes of the records that are not yet in the file: one span of the output, which a record
// joins while it starts inside the span or right after it and the whole fits. Records thus reach
// the file in patch order, in few large writes, and a later record overwrites an earlier one's
// bytes in the span as it would in the file.
constexpr uint32_t OUTPUT_SPAN_CAPACITY = 1 << 16;  // holds the largest record whole

struct output_span {
    intptr_t file;
    uint64_t start;   // file offset of bytes[0]
    uint32_t used;    // bytes held
    uint8_t bytes[OUTPUT_SPAN_CAPACITY];
};

int flush_span(output_span* span)
{
    if (span->used == 0) return 1;
    int written = platform_write_at(span->file, span->start, span->bytes, span->used);
    span->used = 0;
    return written;
}

// Places count bytes at offset: a copy of data, or value repeated when data is null.
int place_bytes(output_span* span, uint32_t offset, const uint8_t* data, uint8_t value, uint32_t count)
{
    if (count == 0) return 1;
    bool joins = span->used != 0 && offset >= span->start && offset - span->start <= span->used &&
                 offset - span->start + count <= OUTPUT_SPAN_CAPACITY;
    if (!joins) {
        if (!flush_span(span)) return 0;
        span->start = offset;
    }
    uint8_t* at = span->bytes + (offset - span->start);
    if (data)
        memcpy(at, data, count);
    else
        memset(at, value, count);
    uint32_t end = static_cast<uint32_t>(offset - span->start) + count;
    if (end > span->used) span->used = end;
    return 1;
}

// Carries out a data record: its block, or zeros for a block the patch cannot supply in full.
int apply_data_record(output_span* span, patch_cursor* cursor, uint32_t offset, uint32_t length)
{
    return place_bytes(span, offset, take_block(cursor, length), 0, length);
}

// Carries out a run record: its value count times.
int apply_run_record(output_span* span, patch_cursor* cursor, uint32_t offset)
{
    uint32_t count = take_u16(cursor);
    uint8_t value = static_cast<uint8_t>(take_byte(cursor));
    return place_bytes(span, offset, nullptr, value, count);
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

    // The span is large; it lives on the stack, so a run can never fail to get it.
    output_span span;
    span.used = 0;
    span.start = 0;
    if (!platform_open_for_update(output_name, &span.file)) {
        console_printf("ERROR : Can't open %s\n", output_name);
        return 0;
    }

    int result = 0;
    for (uint32_t record = 1;; ++record) {
        // An ending signal stops the run quietly; the caller removes the output and ends.
        if (record % 4096 == 0 && platform_interrupted()) break;

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
            if (!flush_span(&span)) {
                console_printf("\rERROR : Failed to write %s\n", output_name);
                break;
            }
            console_print("\rOK\n");
            result = 1;
            break;
        }

        uint32_t length = take_u16(cursor);
        int carried_out = length != 0 ? apply_data_record(&span, cursor, offset, length)
                                      : apply_run_record(&span, cursor, offset);
        if (!carried_out) {
            console_printf("\rERROR : Failed to write %s\n", output_name);
            break;
        }
    }

    // Records carried out before a failure are in the file too, as they would be unbuffered; a
    // failed close can mean data that never reached it.
    flush_span(&span);
    if (!platform_close_file(span.file) && result) {
        console_printf("\rERROR : Failed to write %s\n", output_name);
        result = 0;
    }
    return result;
}
