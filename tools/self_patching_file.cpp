// Reading and writing self-patching images. Every offset read from a file is checked against the
// file's length before it is used.
#include "tools/self_patching_file.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

uint32_t read_le32(const uint8_t* at)
{
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

void write_le32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint32_t LARGEST_SIZE_OFFSET = 1u << 28;
constexpr uint32_t LARGEST_GAP = 4096;

// An anchor at position whose offsets could belong to a stub: after the anchor, in order, close.
bool plausible_anchor(const bytes& file, size_t position, stub_layout* layout)
{
    const uint8_t* at = file.data() + position;
    if (memcmp(at, STUB_IMAGE_TAG_TEXT, STUB_IMAGE_TAG_SIZE) != 0) return false;
    uint32_t size_offset = read_le32(at + STUB_IMAGE_TAG_SIZE);
    uint32_t data_offset = read_le32(at + STUB_IMAGE_TAG_SIZE + 4);
    if (size_offset > LARGEST_SIZE_OFFSET || size_offset < position + sizeof(stub_image_anchor))
        return false;
    if (data_offset < size_offset + 4 || data_offset - size_offset > LARGEST_GAP) return false;
    *layout = {position, size_offset, data_offset};
    return true;
}

}  // namespace

const char* find_stub_layout(const bytes& file, stub_layout* layout)
{
    // The first anchor fixes where the stub ends; anchors after that lie in the patch and are data.
    int found = 0;
    stub_layout candidate;
    const size_t anchor_size = sizeof(stub_image_anchor);
    for (size_t position = 0; position + anchor_size <= file.size(); ++position) {
        if (file[position] != static_cast<uint8_t>(STUB_IMAGE_TAG_TEXT[0])) continue;
        if (!plausible_anchor(file, position, &candidate)) continue;
        if (found == 0) *layout = candidate;
        else if (position + anchor_size <= layout->size_offset) return "the comment slot is ambiguous: the stub holds more than one image anchor";
        found++;
    }
    if (found == 0) return "not a tarnfix stub or self-patching file (no image anchor)";
    return nullptr;
}

bool encode_comment(const std::string& comment, std::string* encoded)
{
    encoded->clear();
    for (char c : comment) {
        encoded->push_back(c);
        if (c == '%') encoded->push_back('%');
    }
    return encoded->size() + 1 <= COMMENT_SLOT_SIZE;
}

std::string decode_comment(const bytes& file, const stub_layout& layout)
{
    // As the stub prints it: up to the terminator or the slot's end, "%%" as one '%'.
    const size_t slot = layout.anchor_position + offsetof(stub_image_anchor, comment_slot);
    std::string text;
    for (size_t i = 0; i < COMMENT_SLOT_SIZE && file[slot + i] != 0; ++i) {
        text.push_back(static_cast<char>(file[slot + i]));
        if (file[slot + i] == '%' && i + 1 < COMMENT_SLOT_SIZE && file[slot + i + 1] == '%') ++i;
    }
    return text;
}

bytes build_self_patching_file(const bytes& stub_file, const stub_layout& layout,
                               const std::string& encoded_comment, const bytes& patch)
{
    // The stub's own bytes, zero-padded up to the size field; a built file's old patch is dropped.
    bytes image(stub_file.begin(),
                stub_file.begin() + static_cast<std::ptrdiff_t>(
                                        std::min<size_t>(stub_file.size(), layout.size_offset)));
    image.resize(layout.data_offset, 0);

    // The comment slot, zero-filled behind the text.
    uint8_t* slot = image.data() + layout.anchor_position + offsetof(stub_image_anchor, comment_slot);
    memset(slot, 0, COMMENT_SLOT_SIZE);
    memcpy(slot, encoded_comment.data(), encoded_comment.size());

    write_le32(image.data() + layout.size_offset, static_cast<uint32_t>(patch.size()));
    image.insert(image.end(), patch.begin(), patch.end());
    return image;
}

const char* carried_patch(const bytes& file, const stub_layout& layout, bytes* patch)
{
    if (file.size() <= layout.size_offset) return "a bare stub: it carries no patch";
    if (file.size() < layout.data_offset) return "damaged: cut off before its patch";
    uint32_t size = read_le32(file.data() + layout.size_offset);
    if (size > file.size() - layout.data_offset) return "damaged: shorter than its patch size says";
    patch->assign(file.begin() + layout.data_offset, file.begin() + layout.data_offset + size);
    return nullptr;
}

const char* check_built_file(const bytes& image, const stub_layout& layout, const bytes& patch)
{
    stub_layout found;
    if (find_stub_layout(image, &found) != nullptr || found.anchor_position != layout.anchor_position ||
        found.size_offset != layout.size_offset || found.data_offset != layout.data_offset)
        return "the stub's image anchor does not read back unambiguously once the stub is padded";
    bytes carried;
    if (carried_patch(image, found, &carried) != nullptr || carried != patch)
        return "the built file does not read back its patch";
    return nullptr;
}
