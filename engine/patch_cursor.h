// The loaded patch and the read position over it.
#pragma once

#include <cstdint>

struct patch_cursor {
    const uint8_t* data;  // the patch bytes, owned by the caller
    uint32_t size;        // number of patch bytes
    uint32_t pos;         // index of the next byte to take; may run past size
};
