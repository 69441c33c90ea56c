// The loader of the patch carried in a stub's own file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/patch_image.h"
#include "tests/support/test_support.h"

using namespace tarnfix_test;

namespace {

bytes image_with(const bytes& patch, uint32_t declared_size)
{
    bytes file(PATCH_DATA_OFFSET, 0x90);
    for (int i = 0; i < 4; ++i) file[PATCH_SIZE_OFFSET + i] = uint8_t(declared_size >> (8 * i));
    // (An empty insert trips a false out-of-bounds warning in GCC 12.)
    if (!patch.empty()) file.insert(file.end(), patch.begin(), patch.end());
    return file;
}

TEST(Loader, ReadsExactlyThePatch)
{
    temporary_folder folder;
    const bytes patch = ips_builder().data(1, {7, 8}).end();
    write_file(folder / "stub", image_with(patch, uint32_t(patch.size())));
    uint32_t size = 0;
    uint8_t* block = load_embedded_patch((folder / "stub").c_str(), &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(bytes(block, block + size), patch);
    free(block);
}

TEST(Loader, EmptyPatchIsAValidBlock)
{
    temporary_folder folder;
    write_file(folder / "stub", image_with({}, 0));
    uint32_t size = 99;
    uint8_t* block = load_embedded_patch((folder / "stub").c_str(), &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(size, 0u);
    free(block);
}

// A file shorter than its size field says hands nothing on, and the size is left alone.
TEST(Loader, RefusesShortAndMissingFiles)
{
    temporary_folder folder;
    const bytes patch = ips_builder().end();
    const bytes whole = image_with(patch, uint32_t(patch.size()));
    const std::vector<bytes> damaged = {
        image_with(patch, uint32_t(patch.size()) + 1),
        image_with(patch, 0xFFFFFFF0u),
        bytes(whole.begin(), whole.begin() + PATCH_SIZE_OFFSET + 2),
        bytes(100, 0),
    };
    for (const bytes& file : damaged) {
        write_file(folder / "stub", file);
        uint32_t size = 12345;
        EXPECT_EQ(load_embedded_patch((folder / "stub").c_str(), &size), nullptr);
        EXPECT_EQ(size, 12345u);
    }
    EXPECT_EQ(load_embedded_patch((folder / "missing").c_str(), nullptr), nullptr);
    EXPECT_EQ(load_embedded_patch(folder.path().c_str(), nullptr), nullptr);
}

}  // namespace
