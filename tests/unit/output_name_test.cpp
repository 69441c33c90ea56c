// Output naming under Windows and Linux path rules.
#include <gtest/gtest.h>

#include <string>

#include "frontend/output_name.h"

namespace {

struct naming_case {
    const char* separators;
    const char* stub;
    const char* input;
    const char* extension;
    const char* output;
};

const char* const WINDOWS = "\\/:";
const char* const LINUX = "/";

const naming_case NAMING_CASES[] = {
    {WINDOWS, "C:\\PATCH\\HACK.EXE", "D:\\ROMS\\GAME.SFC", "SFC", "C:\\PATCH\\HACK.SFC"},
    {WINDOWS, "C:\\Tools 2.0\\hack.exe", "C:\\roms\\game.smc", "smc", "C:\\Tools 2.0\\hack.smc"},
    {WINDOWS, "hack", "game.bin", "bin", "hack.bin"},
    {WINDOWS, "C:\\P\\HACK.EXE", "D:\\ROMS.OLD\\GAME", "GAME", "C:\\P\\HACK.GAME"},
    {WINDOWS, ".\\hack", "game.gb", "gb", ".\\hack.gb"},
    {WINDOWS, "..\\hack", "game.gb", "gb", "..\\hack.gb"},
    {WINDOWS, "C:\\Tools 2.0\\hack", "game.gb", "gb", "C:\\Tools 2.0\\hack.gb"},
    {WINDOWS, "C:\\P\\HACK.EXE", "game.", "", "C:\\P\\HACK."},
    {WINDOWS, "C:\\P\\HACK.EXE", ".gb", "gb", "C:\\P\\HACK.gb"},
    {WINDOWS, "C:\\P\\HACK.EXE", "D:\\ROMS\\GAME", "GAME", "C:\\P\\HACK.GAME"},
    {WINDOWS, "C:hack.exe", "D:game.sfc", "sfc", "C:hack.sfc"},
    {WINDOWS, "C:/P/HACK.EXE", "D:/ROMS.OLD/GAME", "GAME", "C:/P/HACK.GAME"},
    {LINUX, "../tools-1.2/hack", "game.sfc", "sfc", "../tools-1.2/hack.sfc"},
    {LINUX, "./.hack", "game.gb", "gb", "./.hack.gb"},
    {LINUX, "/opt/roms.d/hack.run", "/home/p/My Games.v2/zelda.sfc", "sfc", "/opt/roms.d/hack.sfc"},
    {LINUX, "hack", "/home/p/roms.old/game", "game", "hack.game"},
    {LINUX, "hack", "", "", "hack."},
    {LINUX, "hack", "dir/", "", "hack."},
    {LINUX, "C:\\P\\HACK.EXE", "D:\\ROMS\\GAME", "D:\\ROMS\\GAME", "C:\\P\\HACK.D:\\ROMS\\GAME"},
};

class Naming : public ::testing::TestWithParam<naming_case> {};

TEST_P(Naming, TakesOnlyTheFileNamesDots)
{
    const naming_case& test = GetParam();
    char extension[NAME_CAPACITY] = {};
    char output[NAME_CAPACITY] = {};
    ASSERT_EQ(get_extension_under(test.separators, test.input, extension, NAME_CAPACITY), 1);
    EXPECT_STREQ(extension, test.extension);
    ASSERT_EQ(make_output_name_under(test.separators, test.stub, output, NAME_CAPACITY, extension), 1);
    EXPECT_STREQ(output, test.output);
}

INSTANTIATE_TEST_SUITE_P(Table, Naming, ::testing::ValuesIn(NAMING_CASES));

TEST(Naming, ThisPlatformsRulesSeparateBySlash)
{
    char extension[NAME_CAPACITY] = {};
    char output[NAME_CAPACITY] = {};
    ASSERT_EQ(get_extension("roms.v1/game.sfc", extension, NAME_CAPACITY), 1);
    EXPECT_STREQ(extension, "sfc");
    ASSERT_EQ(make_output_name("tools-1.2/hack", output, NAME_CAPACITY, extension), 1);
    EXPECT_STREQ(output, "tools-1.2/hack.sfc");
}

// A name fits when it and its terminator fit; one byte more is refused and nothing is written.
TEST(Naming, RefusesWhatDoesNotFit)
{
    char buffer[NAME_CAPACITY];
    const std::string longest_extension(NAME_CAPACITY - 1, 'x');
    EXPECT_EQ(get_extension(("game." + longest_extension).c_str(), buffer, NAME_CAPACITY), 1);
    EXPECT_EQ(get_extension(("game." + longest_extension + "x").c_str(), buffer, NAME_CAPACITY), 0);

    const std::string stem(NAME_CAPACITY - 1 - 1 - 3, 's');  // stem, '.', "sfc", terminator
    EXPECT_EQ(make_output_name((stem + ".exe").c_str(), buffer, NAME_CAPACITY, "sfc"), 1);
    EXPECT_EQ(std::string(buffer), stem + ".sfc");
    EXPECT_EQ(make_output_name((stem + "s.exe").c_str(), buffer, NAME_CAPACITY, "sfc"), 0);
    EXPECT_EQ(make_output_name(std::string(400, 'h').c_str(), buffer, NAME_CAPACITY, ""), 0);
}

}  // namespace
