// The builder's reading of patches and of stub images.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tools/ips_scan.h"
#include "tools/self_patching_file.h"

using namespace tarnfix_test;

namespace {

struct scan_case {
    const char* name;
    tarnfix_test::bytes patch;
    int complete;
    const char* problem;
    size_t problem_position;
};

TEST(Scan, CountsRecordsAndTheHighestByteWritten)
{
    const tarnfix_test::bytes patch =
        ips_builder().data(0x10, {1, 2, 3}).run(0x100, 0x20, 9).run(0x9000, 0, 1).data(0, {4}).end();
    ips_summary summary;
    ASSERT_EQ(scan_ips_patch(patch.data(), patch.size(), &summary), 1);
    EXPECT_EQ(summary.data_records, 2u);
    EXPECT_EQ(summary.run_records, 2u);
    EXPECT_EQ(summary.writes_anything, 1);
    EXPECT_EQ(summary.highest_offset, 0x11Fu);
    EXPECT_EQ(summary.bytes_after_end, 0u);
}

TEST(Scan, NamesWhatAStubWouldStopAt)
{
    const std::vector<scan_case> cases = {
        {"empty", {}, 0, "no \"PATCH\" header", 0},
        {"lower case header", to_bytes("patchEOF"), 0, "no \"PATCH\" header", 0},
        {"header only", to_bytes("PATCH"), 0, "no end marker (\"EOF\")", 5},
        {"two stray bytes", to_bytes("PATCHOK"), 0, "cut off inside a record's offset", 5},
        {"cut offset", ips_builder().raw({'E', 'O'}).patch, 0, "cut off inside a record's offset", 5},
        {"cut length", ips_builder().raw({0, 0, 1, 0}).patch, 0, "cut off inside a record's length", 5},
        {"cut data", ips_builder().raw({0, 0, 1, 0, 4, 1, 2}).patch, 0, "cut off inside a record's data", 5},
        {"cut run", ips_builder().raw({0, 0, 1, 0, 0, 0, 4}).patch, 0, "cut off inside a run record", 5},
    };
    for (const scan_case& test : cases) {
        ips_summary summary;
        EXPECT_EQ(scan_ips_patch(test.patch.data(), test.patch.size(), &summary), test.complete) << test.name;
        EXPECT_STREQ(summary.problem, test.problem) << test.name;
        EXPECT_EQ(summary.problem_position, test.problem_position) << test.name;
    }
}

TEST(Scan, CountsBytesAfterTheEndMarker)
{
    tarnfix_test::bytes patch = ips_builder().end();
    patch.insert(patch.end(), {1, 2, 3});
    ips_summary summary;
    ASSERT_EQ(scan_ips_patch(patch.data(), patch.size(), &summary), 1);
    EXPECT_EQ(summary.bytes_after_end, 3u);
    EXPECT_EQ(summary.writes_anything, 0);
}

tarnfix_test::bytes anchor_at(tarnfix_test::bytes file, size_t position, uint32_t size_offset)
{
    stub_image_anchor anchor = {STUB_IMAGE_TAG_TEXT, {}, {}, {}};
    for (int i = 0; i < 4; ++i) {
        anchor.size_offset[i] = uint8_t(size_offset >> (8 * i));
        anchor.data_offset[i] = uint8_t((size_offset + 4) >> (8 * i));
    }
    const auto* raw = reinterpret_cast<const uint8_t*>(&anchor);
    std::copy(raw, raw + sizeof anchor, file.begin() + long(position));
    return file;
}

TEST(Layout, FindsTheOneAnchorAndRefusesTwo)
{
    const tarnfix_test::bytes plain(4096, 0x11);
    stub_layout layout;
    EXPECT_NE(find_stub_layout(plain, &layout), nullptr);

    const tarnfix_test::bytes stub = anchor_at(plain, 1000, 8192);
    ASSERT_EQ(find_stub_layout(stub, &layout), nullptr);
    EXPECT_EQ(layout.anchor_position, 1000u);
    EXPECT_EQ(layout.size_offset, 8192u);
    EXPECT_EQ(layout.data_offset, 8196u);

    EXPECT_NE(find_stub_layout(anchor_at(stub, 3000, 8192), &layout), nullptr);

    // A built file whose patch holds another stub's anchor is still one stub.
    tarnfix_test::bytes built = build_self_patching_file(stub, layout, "", {});
    tarnfix_test::bytes carried = anchor_at(tarnfix_test::bytes(200, 0), 10, 100);
    built = build_self_patching_file(stub, layout, "", carried);
    ASSERT_EQ(find_stub_layout(built, &layout), nullptr);
    EXPECT_EQ(layout.anchor_position, 1000u);
}

// A stub that ends inside a second anchor is one stub, until its zero padding completes that
// anchor: the built file would then be ambiguous, and the check refuses it.
TEST(Layout, BuiltFileMustReadBackUnambiguously)
{
    tarnfix_test::bytes stub = anchor_at(tarnfix_test::bytes(4096, 0), 100, 8192);
    stub_layout layout;
    ASSERT_EQ(find_stub_layout(stub, &layout), nullptr);
    const tarnfix_test::bytes good = build_self_patching_file(stub, layout, "", to_bytes("PATCHEOF"));
    EXPECT_EQ(check_built_file(good, layout, to_bytes("PATCHEOF")), nullptr);

    const char* tag = STUB_IMAGE_TAG_TEXT;
    stub.insert(stub.end(), tag, tag + STUB_IMAGE_TAG_SIZE);
    stub.insert(stub.end(), {0x00, 0x20, 0x00, 0x00, 0x04, 0x20});  // offsets 8192 and 8196, cut
    ASSERT_EQ(find_stub_layout(stub, &layout), nullptr);
    const tarnfix_test::bytes built = build_self_patching_file(stub, layout, "", to_bytes("PATCHEOF"));
    EXPECT_NE(check_built_file(built, layout, to_bytes("PATCHEOF")), nullptr);
}

TEST(Layout, CommentsAreStoredAsTheStubPrintsThem)
{
    std::string encoded;
    EXPECT_TRUE(encode_comment("100% done", &encoded));
    EXPECT_EQ(encoded, "100%% done");
    EXPECT_TRUE(encode_comment(std::string(67, 'c'), &encoded));
    EXPECT_FALSE(encode_comment(std::string(68, 'c'), &encoded));
    EXPECT_TRUE(encode_comment(std::string(33, '%') + "c", &encoded));
    EXPECT_FALSE(encode_comment(std::string(33, '%') + "cc", &encoded));

    const tarnfix_test::bytes stub = anchor_at(tarnfix_test::bytes(4096, 0), 100, 8192);
    stub_layout layout;
    ASSERT_EQ(find_stub_layout(stub, &layout), nullptr);
    ASSERT_TRUE(encode_comment("50%s%n", &encoded));
    const tarnfix_test::bytes built = build_self_patching_file(stub, layout, encoded, to_bytes("PATCHEOF"));
    EXPECT_EQ(decode_comment(built, layout), "50%s%n");
    tarnfix_test::bytes patch;
    ASSERT_EQ(carried_patch(built, layout, &patch), nullptr);
    EXPECT_EQ(patch, to_bytes("PATCHEOF"));
    EXPECT_NE(carried_patch(stub, layout, &patch), nullptr);
    EXPECT_NE(carried_patch(tarnfix_test::bytes(built.begin(), built.end() - 1), layout, &patch), nullptr);
}

}  // namespace
