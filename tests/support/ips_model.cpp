// The reference model: the format's semantics in the plainest form, a byte vector and an index.
#include "tests/support/ips_model.h"

namespace tarnfix_model {

namespace {

struct reader {
    const std::vector<uint8_t>& patch;
    uint64_t pos;

    // One byte of a field; past the end it reads as zero and pos still moves on.
    uint32_t byte()
    {
        uint32_t value = pos < patch.size() ? patch[pos] : 0;
        ++pos;
        return value;
    }
    // A block is taken whole or not at all.
    std::vector<uint8_t> block(uint32_t length)
    {
        std::vector<uint8_t> taken(length, 0);
        if (pos + length <= patch.size())
            for (uint32_t i = 0; i < length; ++i) taken[i] = patch[pos + i];
        pos += length;
        return taken;
    }
};

void write_at(std::vector<uint8_t>& file, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) return;
    if (file.size() < offset + bytes.size()) file.resize(offset + bytes.size(), 0);
    for (size_t i = 0; i < bytes.size(); ++i) file[offset + i] = bytes[i];
}

}  // namespace

model_outcome apply_model(const std::vector<uint8_t>& patch, const std::vector<uint8_t>& input)
{
    model_outcome outcome = {input, 0, 0, 0};
    reader in = {patch, 0};
    std::vector<uint8_t> header = in.block(5);
    if (header != std::vector<uint8_t>{'P', 'A', 'T', 'C', 'H'}) {
        outcome.pos = uint32_t(in.pos);
        return outcome;
    }
    outcome.header_found = 1;
    while (in.pos < patch.size()) {
        uint32_t offset = in.byte() << 16;
        offset |= in.byte() << 8;
        offset |= in.byte();
        if (offset == 0x454F46) {
            outcome.result = 1;
            break;
        }
        uint32_t length = in.byte() << 8;
        length |= in.byte();
        if (length != 0) {
            write_at(outcome.output, offset, in.block(length));
        } else {
            uint32_t count = in.byte() << 8;
            count |= in.byte();
            uint8_t value = uint8_t(in.byte());
            write_at(outcome.output, offset, std::vector<uint8_t>(count, value));
        }
    }
    outcome.pos = uint32_t(in.pos);
    return outcome;
}

}  // namespace tarnfix_model
