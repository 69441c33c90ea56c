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

// One record as a run carries it out: count bytes at offset, a copy of data, or value repeated when
// data is null (a run record, or a data block the patch cannot supply in full, which writes zeros).
struct ips_record {
    uint32_t offset;
    uint32_t count;
    const uint8_t* data;
    uint8_t value;
};

// Takes the record at cursor->pos, which is below size; 0 when it is the end marker instead.
int take_record(patch_cursor* cursor, ips_record* record)
{
    // The end marker is the three offset bytes "EOF"; unfilled bytes read as zero, so a patch cut
    // inside an offset never ends here.
    uint32_t offset = take_byte(cursor) << 16;
    offset |= take_byte(cursor) << 8;
    offset |= take_byte(cursor);
    if (offset == 0x454F46) return 0;

    // A data record's block, or a run record's count and value.
    *record = {offset, take_u16(cursor), nullptr, 0};
    if (record->count != 0) {
        record->data = take_block(cursor, record->count);
    } else {
        record->count = take_u16(cursor);
        record->value = static_cast<uint8_t>(take_byte(cursor));
    }
    return 1;
}

// What a walk over the records found.
struct record_walk {
    int reached_end;  // the end marker was read
    uint32_t pos;     // where the walk stopped
    uint32_t reach;   // one past the last byte any record writes
};

// Called for each record that writes something, with where it starts in the patch.
using record_visitor = void (*)(const ips_record& record, uint32_t position, void* context);

// Walks the records after the header, from a copy of the cursor, as a run carries them out.
record_walk walk_records(patch_cursor cursor, record_visitor visit, void* context)
{
    record_walk walk = {0, 0, 0};
    while (cursor.pos < cursor.size) {
        const uint32_t position = cursor.pos;
        ips_record record;
        if (!take_record(&cursor, &record)) {
            walk.reached_end = 1;
            break;
        }
        if (record.count == 0) continue;
        if (record.offset + record.count > walk.reach) walk.reach = record.offset + record.count;
        if (visit) visit(record, position, context);
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

// The head is built in windows small enough to stay in the processor's cache while the input's
// bytes, the records and the write pass through them.
constexpr uint32_t WINDOW_SIZE = 1 << 17;

// At most this many index entries (4 bytes each); a patch of more records walks them all for every
// window instead, slower but within the same memory.
constexpr uint32_t INDEX_LIMIT = 1 << 22;

// One window of the head in memory.
struct head_window {
    uint8_t* bytes;
    uint32_t start;  // file offset of bytes[0]
    uint32_t size;
};

// Places what a record writes that falls in the window.
void place_in_window(const ips_record& record, uint32_t, void* context)
{
    const head_window& window = *static_cast<const head_window*>(context);
    const uint32_t first = record.offset > window.start ? record.offset : window.start;
    const uint32_t record_end = record.offset + record.count;
    const uint32_t window_end = window.start + window.size;
    const uint32_t end = record_end < window_end ? record_end : window_end;
    if (first >= end) return;
    if (record.data)
        memcpy(window.bytes + (first - window.start), record.data + (first - record.offset), end - first);
    else
        memset(window.bytes + (first - window.start), record.value, end - first);
}

// Which records touch which window: the patch positions of the records of window k, in patch
// order, are positions[first[k]] up to positions[first[k + 1]].
struct record_index {
    uint32_t* first;      // window_count + 1 entries
    uint32_t* positions;  // null while the records are counted, and when they cannot be indexed
    uint32_t window_count;
};

// Counts a record in each window it touches, or once counted, files it there.
void index_record(const ips_record& record, uint32_t position, void* context)
{
    auto* index = static_cast<record_index*>(context);
    const uint32_t last = (record.offset + record.count - 1) / WINDOW_SIZE;
    for (uint32_t k = record.offset / WINDOW_SIZE; k <= last && k < index->window_count; ++k) {
        if (index->positions)
            index->positions[index->first[k]++] = position;
        else
            index->first[k + 1]++;
    }
}

// Makes the index of the records after cursor for window_count windows; 0 when memory is short.
int make_record_index(const patch_cursor& records, uint32_t window_count, record_index* index)
{
    *index = {static_cast<uint32_t*>(calloc(window_count + 1, sizeof(uint32_t))), nullptr, window_count};
    if (!index->first) return 0;
    walk_records(records, index_record, index);
    uint64_t total = 0;
    for (uint32_t k = 1; k <= window_count; ++k) total += index->first[k];
    if (total > INDEX_LIMIT) return 1;

    // Each window's entries start where the earlier windows' end; filing them moves each start to
    // the next window's, which is then shifted back.
    for (uint32_t k = 1; k <= window_count; ++k) index->first[k] += index->first[k - 1];
    index->positions = static_cast<uint32_t*>(malloc((total != 0 ? total : 1) * sizeof(uint32_t)));
    if (!index->positions) return 1;
    walk_records(records, index_record, index);
    for (uint32_t k = window_count; k > 0; --k) index->first[k] = index->first[k - 1];
    index->first[0] = 0;
    return 1;
}

// Carries out the records of one window: those the index names, or all of them without an index.
void fill_window(const record_index& index, uint32_t k, const patch_cursor& records, head_window* window)
{
    if (!index.positions) {
        walk_records(records, place_in_window, window);
        return;
    }
    for (uint32_t entry = index.first[k]; entry < index.first[k + 1]; ++entry) {
        patch_cursor at = records;
        at.pos = index.positions[entry];
        ips_record record;
        take_record(&at, &record);
        place_in_window(record, 0, window);
    }
}

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
    const uint32_t window_count = static_cast<uint32_t>((uint64_t{head_size} + WINDOW_SIZE - 1) / WINDOW_SIZE);
    record_index index;
    head_window window = {static_cast<uint8_t*>(malloc(WINDOW_SIZE)), 0, 0};
    int built = make_record_index(records, window_count, &index) && window.bytes;
    if (!built) console_print("\rERROR : Failed to allocate memory\n");

    for (uint32_t k = 0; built && k < window_count; ++k) {
        if (platform_interrupted()) {
            built = 0;
            break;
        }
        window.start = k * WINDOW_SIZE;
        window.size = head_size - window.start < WINDOW_SIZE ? head_size - window.start : WINDOW_SIZE;
        size_t got = 0;
        if (!platform_read_at(input, window.start, window.bytes, window.size, &got)) {
            console_printf("\rERROR : Failed to read %s\n", input_name);
            built = 0;
            break;
        }
        memset(window.bytes + got, 0, window.size - got);
        fill_window(index, k, records, &window);
        if (!platform_write_at(output, window.start, window.bytes, window.size)) {
            console_printf("\rERROR : Failed to write %s\n", output_name);
            built = 0;
        }
    }
    free(window.bytes);
    free(index.first);
    free(index.positions);
    platform_close_file(input);
    return built;
}

}  // namespace

uint32_t ips_patch_reach(const patch_cursor* cursor)
{
    patch_cursor walker = *cursor;
    if (!skip_header(&walker)) return 0;
    return walk_records(walker, nullptr, nullptr).reach;
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
    const record_walk records = walk_records(*cursor, nullptr, nullptr);
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
