// The stub's anchor in its initialised data: the tag, the offsets and the comment slot, which the
// builder fills in the stub's file after the build.
#include "engine/patch_image.h"

extern const stub_image_anchor stub_image = {
    STUB_IMAGE_TAG_TEXT,
    {PATCH_SIZE_OFFSET & 0xFF, PATCH_SIZE_OFFSET >> 8 & 0xFF, PATCH_SIZE_OFFSET >> 16 & 0xFF,
     PATCH_SIZE_OFFSET >> 24},
    {PATCH_DATA_OFFSET & 0xFF, PATCH_DATA_OFFSET >> 8 & 0xFF, PATCH_DATA_OFFSET >> 16 & 0xFF,
     PATCH_DATA_OFFSET >> 24},
    {},
};
