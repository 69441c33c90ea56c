// Stub files and self-patching files as the builder sees them: where a stub keeps its comment and
// expects its patch, and how a self-patching file is put together and taken apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/patch_image.h"

using bytes = std::vector<uint8_t>;

struct stub_layout {
    size_t anchor_position;  // file offset of the stub's image anchor
    uint32_t size_offset;    // where the patch size field goes
    uint32_t data_offset;    // where the patch goes
};

// Finds the one image anchor of a stub or self-patching file; returns null or the reason it failed.
const char* find_stub_layout(const bytes& file, stub_layout* layout);

// Encodes comment for the slot, each '%' as "%%"; false when it does not fit with its terminator.
bool encode_comment(const std::string& comment, std::string* encoded);

// The comment as a stub prints it.
std::string decode_comment(const bytes& file, const stub_layout& layout);

// A self-patching file of the stub in stub_file (bare or self-patching itself) with the encoded
// comment and patch in place.
bytes build_self_patching_file(const bytes& stub_file, const stub_layout& layout,
                               const std::string& encoded_comment, const bytes& patch);

// Checks that a built file reads back as it was meant: the same anchor and offsets, and the patch
// given. Null, or why not (a stub whose zero padding completes a second anchor, for one).
const char* check_built_file(const bytes& image, const stub_layout& layout, const bytes& patch);

// The patch a self-patching file carries; returns null or the reason there is none.
const char* carried_patch(const bytes& file, const stub_layout& layout, bytes* patch);
