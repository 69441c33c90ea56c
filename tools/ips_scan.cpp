// IPS scanner for the builder. Every field's length is checked against what is left before the
// field is read, so a damaged patch is described, never read past its end.
#include "tools/ips_scan.h"

#include <cstring>

namespace {

uint32_t read_u16(const uint8_t* at) { return uint32_t{at[0]} << 8 | at[1]; }

uint32_t read_u24(const uint8_t* at) { return uint32_t{at[0]} << 16 | uint32_t{at[1]} << 8 | at[2]; }

int fail(ips_summary* summary, const char* problem, size_t position)
{
    summary->problem = problem;
    summary->problem_position = position;
    return 0;
}

void note_write(ips_summary* summary, uint32_t offset, uint32_t count)
{
    if (count == 0) return;
    uint32_t last = offset + count - 1;
    if (!summary->writes_anything || last > summary->highest_offset) summary->highest_offset = last;
    summary->writes_anything = 1;
}

}  // namespace

int scan_ips_patch(const uint8_t* data, size_t size, ips_summary* summary)
{
    memset(summary, 0, sizeof *summary);
    if (size < 5 || memcmp(data, "PATCH", 5) != 0) return fail(summary, "no \"PATCH\" header", 0);

    size_t pos = 5;
    for (;;) {
        // Each record begins with a 3-byte offset, or the end marker in its place.
        size_t left = size - pos;
        if (left == 0) return fail(summary, "no end marker (\"EOF\")", pos);
        if (left < 3) return fail(summary, "cut off inside a record's offset", pos);
        uint32_t offset = read_u24(data + pos);
        if (offset == 0x454F46) break;
        size_t record = pos;
        pos += 3;

        // Then a 2-byte length; data follow it, or for length 0 a 2-byte count and a value.
        if (size - pos < 2) return fail(summary, "cut off inside a record's length", record);
        uint32_t length = read_u16(data + pos);
        pos += 2;
        if (length != 0) {
            if (size - pos < length) return fail(summary, "cut off inside a record's data", record);
            pos += length;
            summary->data_records++;
            note_write(summary, offset, length);
        } else {
            if (size - pos < 3) return fail(summary, "cut off inside a run record", record);
            note_write(summary, offset, read_u16(data + pos));
            pos += 3;
            summary->run_records++;
        }
    }
    summary->bytes_after_end = size - pos - 3;
    summary->complete = 1;
    return 1;
}
