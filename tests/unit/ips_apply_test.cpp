// The IPS applier on real files: whole output files, messages and the final read position.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/ips_apply.h"
#include "tests/support/test_support.h"

using namespace tarnfix_test;

namespace {

bytes counting(size_t length)
{
    bytes block(length);
    for (size_t i = 0; i < length; ++i) block[i] = uint8_t(i);
    return block;
}

bytes followed_by(bytes first, const bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

bytes with(bytes base, size_t at, const bytes& block)
{
    if (base.size() < at + block.size()) base.resize(at + block.size(), 0);
    std::copy(block.begin(), block.end(), base.begin() + long(at));
    return base;
}

struct apply_case {
    const char* name;
    bytes patch;
    int result;
    std::string messages;  // as written, "\n" standing for CR LF
    bytes output;          // the whole output file afterwards, from a 32-byte counting input
    uint32_t pos;
};

std::vector<apply_case> apply_cases()
{
    const bytes input = counting(32);
    const bytes four = {0xA1, 0xA2, 0xA3, 0xA4};
    return {
        {"end marker at once", ips_builder().end(), 1, "\rOK\n", input, 8},
        {"header only", to_bytes("PATCH"), 0, "\rERROR : Can't find EOF[0x0005]\n", input, 5},
        {"data record", ips_builder().data(4, four).end(), 1, "\rOK\n", with(input, 4, four), 17},
        {"run record", ips_builder().run(30, 4, 0xEE).end(), 1, "\rOK\n",
         with(input, 30, bytes(4, 0xEE)), 16},
        {"run of zero length moves nothing and the next record follows its value",
         ips_builder().run(40, 0, 0xEE).data(1, four).end(), 1, "\rOK\n", with(input, 1, four), 25},
        {"record past the end lengthens with zeros between", ips_builder().data(40, four).end(), 1,
         "\rOK\n", with(with(input, 32, bytes(8, 0)), 40, four), 17},
        {"overlapping records: the later wins",
         ips_builder().data(2, four).run(3, 2, 0x55).data(5, {0x99}).end(), 1, "\rOK\n",
         with(with(with(input, 2, four), 3, {0x55, 0x55}), 5, {0x99}), 31},
        {"bytes after the end marker are ignored", followed_by(ips_builder().end(), {0x42, 0, 0, 1}), 1, "\rOK\n", input, 8},
        {"a record at 0x454F46 reads as the end marker",
         ips_builder().data(0x454F46, four).data(0, four).end(), 1, "\rOK\n", input, 8},
        {"data record of 65535 bytes", ips_builder().data(10, bytes(0xFFFF, 0x5A)).end(), 1, "\rOK\n",
         with(input, 10, bytes(0xFFFF, 0x5A)), 5 + 5 + 0xFFFF + 3},
        {"cut off in the data: a zero block is still written",
         ips_builder().raw({0, 0, 16, 0, 16}).raw(four).patch, 0, "\rERROR : Can't find EOF[0x001a]\n",
         with(input, 16, bytes(16, 0)), 26},
        {"cut off in the offset never reads as the end marker", ips_builder().raw({'E', 'O'}).patch, 0,
         "\rERROR : Can't find EOF[0x000d]\n", input, 13},
        {"cut off after the length's first byte", ips_builder().raw({0, 0, 16, 1}).patch, 0,
         "\rERROR : Can't find EOF[0x010a]\n", with(input, 16, bytes(256, 0)), 266},
        {"cut off in a run record", ips_builder().raw({0, 0, 8, 0, 0, 0}).patch, 0,
         "\rERROR : Can't find EOF[0x000d]\n", input, 13},
        {"no end marker after whole records", ips_builder().data(0, four).patch, 0,
         "\rERROR : Can't find EOF[0x000e]\n", with(input, 0, four), 14},
    };
}

void PrintTo(const apply_case& test, std::ostream* stream) { *stream << test.name; }

class ApplyTable : public ::testing::TestWithParam<apply_case> {};

// Both ways the output can come from the copy: whole, or without the head the records reach, which
// then holds other bytes and must be built from the input.
TEST_P(ApplyTable, WritesTheWholeOutputAndSaysSo)
{
    const apply_case& test = GetParam();
    for (bool head_left_out : {false, true}) {
        temporary_folder folder;
        const std::string input = folder / "in.bin";
        const std::string output = folder / "out.bin";
        write_file(input, counting(32));
        patch_cursor cursor = {test.patch.data(), uint32_t(test.patch.size()), 0};
        const uint32_t head_size = head_left_out ? ips_patch_reach(&cursor) : 0;
        bytes copied = counting(32);
        for (uint32_t i = 0; i < head_size && i < copied.size(); ++i) copied[i] = 0xEE;
        write_file(output, copied);

        testing::internal::CaptureStdout();
        int result = apply_ips_patch(output.c_str(), input.c_str(), head_size, &cursor);
        fflush(stdout);
        std::string messages = testing::internal::GetCapturedStdout();

        EXPECT_EQ(result, test.result) << head_left_out;
        EXPECT_EQ(messages, crlf(test.messages)) << head_left_out;
        EXPECT_EQ(read_file(output), test.output) << head_left_out;
        EXPECT_EQ(cursor.pos, test.pos) << head_left_out;
        EXPECT_EQ(read_file(input), counting(32));
    }
}

// Records spread over many windows of the head, overlapping across their edges, still land in
// patch order.
TEST(Apply, RecordsAcrossWindowsLandInPatchOrder)
{
    temporary_folder folder;
    const std::string input = folder / "in.bin";
    const std::string output = folder / "out.bin";
    bytes original = counting(3 << 20);
    write_file(input, original);
    write_file(output, original);
    ips_builder patch;
    bytes expected = original;
    for (uint32_t i = 0; i < 200; ++i) {
        uint32_t offset = (i * 104729u) % (4u << 20);
        uint16_t length = uint16_t(1 + (i * 7919u) % 65535u);
        if (i % 3 == 0) {
            patch.run(offset, length, uint8_t(i));
            if (expected.size() < offset + length) expected.resize(offset + length, 0);
            std::fill(expected.begin() + offset, expected.begin() + offset + length, uint8_t(i));
        } else {
            bytes block(length, uint8_t(i * 5));
            patch.data(offset, block);
            expected = with(expected, offset, block);
        }
    }
    const bytes whole = patch.end();
    patch_cursor cursor = {whole.data(), uint32_t(whole.size()), 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply_ips_patch(output.c_str(), input.c_str(), 0, &cursor), 1);
    fflush(stdout);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(read_file(output) == expected);
}

INSTANTIATE_TEST_SUITE_P(Patches, ApplyTable, ::testing::ValuesIn(apply_cases()),
                         [](const auto& param_info) {
                             std::string name;
                             for (const char* c = param_info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// Without a header the output is never opened: a missing output then gives no "Can't open".
TEST(Apply, MissingHeaderNeverOpensTheOutput)
{
    temporary_folder folder;
    const std::string missing = folder / "missing.bin";
    for (const bytes& patch : {bytes{}, to_bytes("PATC"), to_bytes("patch"), to_bytes("XPATCHEOF")}) {
        patch_cursor cursor = {patch.data(), uint32_t(patch.size()), 0};
        testing::internal::CaptureStdout();
        EXPECT_EQ(apply_ips_patch(missing.c_str(), missing.c_str(), 0, &cursor), 0);
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), crlf("ERROR : Can't find IPS header\n"));
        EXPECT_FALSE(file_present(missing));
    }
}

TEST(Apply, OutputThatCannotBeOpenedIsNamed)
{
    temporary_folder folder;
    const std::string missing = folder / "missing.bin";
    bytes patch = ips_builder().end();
    patch_cursor cursor = {patch.data(), uint32_t(patch.size()), 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply_ips_patch(missing.c_str(), missing.c_str(), 0, &cursor), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), crlf("ERROR : Can't open " + missing + "\n"));
    EXPECT_FALSE(file_present(missing));
}

TEST(Apply, NoOutputNameIsAQuietFailure)
{
    bytes patch = ips_builder().end();
    patch_cursor cursor = {patch.data(), uint32_t(patch.size()), 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(apply_ips_patch(nullptr, nullptr, 0, &cursor), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
