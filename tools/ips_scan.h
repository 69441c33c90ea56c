// Reads an IPS patch through without applying it: what it writes and whether a stub would accept it.
#pragma once

#include <cstddef>
#include <cstdint>

struct ips_summary {
    uint32_t data_records;
    uint32_t run_records;
    int writes_anything;      // 1 when some record writes at least one byte
    uint32_t highest_offset;  // the last byte any record writes, when writes_anything
    int complete;             // header, whole records and the end marker
    const char* problem;      // why it is not complete, else null
    size_t problem_position;  // byte of the patch where the problem shows
    size_t bytes_after_end;   // bytes after the end marker, which a stub ignores
};

// Fills summary for the size bytes at data; returns summary->complete.
int scan_ips_patch(const uint8_t* data, size_t size, ips_summary* summary);
