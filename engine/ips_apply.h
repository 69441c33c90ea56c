// Carries out the records of an IPS patch on the copy of a file.
#pragma once

#include "engine/patch_cursor.h"

// One past the last byte that the records of the patch under cursor (pos at 0) write, as a walk
// over them without writing finds it; 0 for a patch without its header. A copy that leaves out the
// bytes below it loses nothing, since apply_ips_patch builds them from the input.
uint32_t ips_patch_reach(const patch_cursor* cursor);

// Applies the patch under cursor (pos at 0) to output_name, an existing copy of input_name, and
// reports on the console. The output's bytes below head_size, and below the patch's reach, are
// built from the input (zeros past its end) with every record carried out over them in patch order,
// and are written once; the bytes above are the copy's. Returns 1 when the end marker was reached
// and every byte reached the file, else 0; the caller then deletes the output. On return pos stands
// after the last field taken.
int apply_ips_patch(const char* output_name, const char* input_name, uint32_t head_size,
                    patch_cursor* cursor);
