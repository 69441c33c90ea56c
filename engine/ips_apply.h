// Carries out the records of an IPS patch on an existing file.
#pragma once

#include "engine/patch_cursor.h"

// Applies the patch under cursor (pos at 0) to output_name in place and reports on the console.
// Returns 1 when the end marker was reached and every byte reached the file, else 0; the caller
// then deletes the output. On return pos stands after the last field taken.
int apply_ips_patch(const char* output_name, patch_cursor* cursor);
