// The self-patching image: where a stub's file carries its patch and its comment.
//
// A self-patching file is the stub's file, zero-padded up to PATCH_SIZE_OFFSET, the patch size there
// as 4 little-endian bytes, zero bytes up to PATCH_DATA_OFFSET and the patch from there to the end.
// The comment lives in the stub's initialised data, in the anchor below, which the builder finds by
// its tag without symbols; the anchor also records both offsets so that one builder serves stubs of
// every platform.
#pragma once

#include <cstddef>
#include <cstdint>

// Set by the build for each platform's executable layout.
constexpr uint32_t PATCH_SIZE_OFFSET = TARNFIX_PATCH_SIZE_OFFSET;
constexpr uint32_t PATCH_DATA_OFFSET = TARNFIX_PATCH_DATA_OFFSET;
static_assert(PATCH_DATA_OFFSET >= PATCH_SIZE_OFFSET + 4, "the size field and the patch overlap");

constexpr size_t COMMENT_SLOT_SIZE = 68;
constexpr size_t STUB_IMAGE_TAG_SIZE = 16;

// The tag's bytes; the anchor holds them with a zero in the last place.
#define STUB_IMAGE_TAG_TEXT "TarnfixImage\x01\x02\x03"

struct stub_image_anchor {
    char tag[STUB_IMAGE_TAG_SIZE];
    uint8_t size_offset[4];  // PATCH_SIZE_OFFSET, little-endian
    uint8_t data_offset[4];  // PATCH_DATA_OFFSET, little-endian
    char comment_slot[COMMENT_SLOT_SIZE];
};
static_assert(sizeof(stub_image_anchor) == STUB_IMAGE_TAG_SIZE + 8 + COMMENT_SLOT_SIZE,
              "the anchor must have no padding");

// The stub's own anchor (patch_image_data.cpp, linked into the stub alone). Defined in a unit of its
// own so that no reader of the comment can fold the builder's bytes away at compile time.
extern const stub_image_anchor stub_image;

// The patch a stub carries, as loaded: its bytes lie in a read-only mapping of the stub's file where
// the platform gives one (no copy to make, which for a large patch costs more than the whole run
// otherwise), else in a heap block.
struct embedded_patch {
    const uint8_t* data;     // the patch's bytes
    uint32_t size;           // how many
    const uint8_t* mapping;  // the mapping they lie in, or null for a heap block
    uint64_t mapping_length;
};

// Loads the patch carried in the file stub_path into *patch, owned by the caller until
// release_embedded_patch; 0, with *patch untouched, when the file cannot be opened or does not hold
// the whole patch its size field names, or no memory can be had.
int load_embedded_patch(const char* stub_path, embedded_patch* patch);

void release_embedded_patch(embedded_patch* patch);
