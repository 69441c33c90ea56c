// The loader of the patch carried in a stub's own file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/patch_image.h"
#include "tests/support/test_support.h"

using namespace tarnfix_test;

namespace {

bytes image_with(const bytes& patch, uint32_t declared_size)
{
    bytes file(PATCH_DATA_OFFSET + patch.size(), 0x90);
    for (int i = 0; i < 4; ++i) file[PATCH_SIZE_OFFSET + i] = uint8_t(declared_size >> (8 * i));
    std::copy(patch.begin(), patch.end(), file.begin() + PATCH_DATA_OFFSET);
    return file;
}

TEST(Loader, ReadsExactlyThePatch)
{
    temporary_folder folder;
    const bytes patch = ips_builder().data(1, {7, 8}).end();
    write_file(folder / "stub", image_with(patch, uint32_t(patch.size())));
    embedded_patch loaded;
    ASSERT_EQ(load_embedded_patch((folder / "stub").c_str(), &loaded), 1);
    EXPECT_EQ(bytes(loaded.data, loaded.data + loaded.size), patch);
    release_embedded_patch(&loaded);
}

TEST(Loader, EmptyPatchIsAValidBlock)
{
    temporary_folder folder;
    write_file(folder / "stub", image_with({}, 0));
    embedded_patch loaded;
    ASSERT_EQ(load_embedded_patch((folder / "stub").c_str(), &loaded), 1);
    EXPECT_EQ(loaded.size, 0u);
    EXPECT_NE(loaded.data, nullptr);
    release_embedded_patch(&loaded);
}

// A file shorter than its size field says hands nothing on, and leaves the record alone.
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
        embedded_patch loaded = {nullptr, 12345, nullptr, 0};
        EXPECT_EQ(load_embedded_patch((folder / "stub").c_str(), &loaded), 0);
        EXPECT_EQ(loaded.size, 12345u);
    }
    embedded_patch loaded;
    EXPECT_EQ(load_embedded_patch((folder / "missing").c_str(), &loaded), 0);
    EXPECT_EQ(load_embedded_patch(folder.path().c_str(), &loaded), 0);
}

}  // namespace
