// An in-memory model of what applying an IPS patch does, written apart from the applier so that the
// two can be checked against each other: same output bytes, same result, same final position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnfix_model {

struct model_outcome {
    std::vector<uint8_t> output;  // the file after the run (when the header was found)
    int result;                   // 1 when the end marker was reached
    int header_found;             // 0: the output is never opened
    uint32_t pos;                 // the read position at the end
};

// Applies patch to a copy of input the way a stub must: a field the patch cannot supply in full
// reads as zeros and still counts its full width.
model_outcome apply_model(const std::vector<uint8_t>& patch, const std::vector<uint8_t>& input);

}  // namespace tarnfix_model
