// The builder as a patch author uses it: make, info and extract on real files.
#include <gtest/gtest.h>

#include <cstdio>

#include <sys/stat.h>

#include "tests/e2e/stub_flavours.h"
#include "tests/support/test_support.h"

using namespace tarnfix_test;

namespace {

class Builder : public ::testing::Test {
protected:
    run_result tarnfix(const std::vector<std::string>& args) { return run_program(builder_path(), args); }
    std::string at(const std::string& name) const { return folder / name; }
    temporary_folder folder;
};

TEST_F(Builder, MakeInfoExtractRoundTrip)
{
    const bytes patch = ips_builder().data(0x10, {1, 2, 3}).run(0x2000, 0x10, 0xFF).run(5, 0, 1).end();
    write_file(at("hack.ips"), patch);
    run_result made = tarnfix({"make", "--comment", "My hack v2 (50% faster)", "-o", at("hack"), at("hack.ips")});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_EQ(made.err, "");

    struct stat made_stat;
    ASSERT_EQ(stat(at("hack").c_str(), &made_stat), 0);
    EXPECT_NE(made_stat.st_mode & S_IXUSR, 0u);

    run_result info = tarnfix({"info", at("hack")});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_EQ(info.out,
              "comment: My hack v2 (50% faster)\n"
              "patch size: " + std::to_string(patch.size()) + " bytes\n"
              "data records: 1\n"
              "run records: 2\n"
              "highest offset written: 0x00200F\n"
              "complete: yes\n");

    run_result extracted = tarnfix({"extract", at("hack"), "-o", at("back.ips")});
    ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
    EXPECT_EQ(read_file(at("back.ips")), patch);
}

// A self-patching file serves as a stub again: its comment and patch are replaced, nothing grows.
TEST_F(Builder, RemakeReplacesCommentAndPatch)
{
    write_file(at("one.ips"), ips_builder().data(0, bytes(5000, 1)).end());
    write_file(at("two.ips"), ips_builder().data(0, {2}).end());
    ASSERT_EQ(tarnfix({"make", "--comment", "first", "-o", at("first"), at("one.ips")}).exit_code, 0);
    ASSERT_EQ(tarnfix({"make", "--stub", at("first"), "-o", at("second"), at("two.ips")}).exit_code, 0);
    ASSERT_EQ(tarnfix({"make", "-o", at("direct"), at("two.ips")}).exit_code, 0);
    EXPECT_EQ(read_file(at("second")), read_file(at("direct")));

    run_result info = tarnfix({"info", at("second")});
    EXPECT_NE(info.out.find("comment: \n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("patch size: 14 bytes\n"), std::string::npos) << info.out;
}

TEST_F(Builder, CommentMustFitItsSlot)
{
    write_file(at("hack.ips"), ips_builder().end());
    EXPECT_EQ(tarnfix({"make", "--comment", std::string(67, 'c'), "-o", at("ok"), at("hack.ips")}).exit_code, 0);

    for (const std::string& comment : {std::string(68, 'c'), std::string(34, '%')}) {
        run_result refused = tarnfix({"make", "--comment", comment, "-o", at("long"), at("hack.ips")});
        EXPECT_NE(refused.exit_code, 0);
        EXPECT_NE(refused.err.find("the slot holds 67 bytes and a terminator"), std::string::npos) << refused.err;
        EXPECT_FALSE(file_present(at("long")));
    }
}

TEST_F(Builder, RefusesAPatchAStubWouldFailUnlessForced)
{
    struct refusal {
        bytes patch;
        const char* reason;
    };
    const refusal refusals[] = {
        {to_bytes("IPS?"), "a stub would refuse this patch: no \"PATCH\" header at byte 0"},
        {to_bytes("PATCH"), "a stub would refuse this patch: no end marker (\"EOF\") at byte 5"},
        {ips_builder().raw({0, 0, 1, 0, 9, 1}).patch, "cut off inside a record's data at byte 5"},
    };
    for (const refusal& test : refusals) {
        write_file(at("bad.ips"), test.patch);
        run_result refused = tarnfix({"make", "-o", at("bad"), at("bad.ips")});
        EXPECT_NE(refused.exit_code, 0);
        EXPECT_NE(refused.err.find("tarnfix: " + at("bad.ips") + ": "), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find(test.reason), std::string::npos) << refused.err;
        EXPECT_FALSE(file_present(at("bad")));

        run_result forced = tarnfix({"make", "--force", "-o", at("bad"), at("bad.ips")});
        EXPECT_EQ(forced.exit_code, 0) << forced.err;
        run_result extracted = tarnfix({"extract", at("bad"), "-o", at("back.ips")});
        EXPECT_EQ(read_file(at("back.ips")), test.patch);
        run_result info = tarnfix({"info", at("bad")});
        EXPECT_EQ(info.exit_code, 0);
        EXPECT_NE(info.out.find("complete: no ("), std::string::npos) << info.out;
        remove(at("bad").c_str());
    }
}

TEST_F(Builder, WarnsOfBytesAfterTheEndMarker)
{
    bytes patch = ips_builder().end();
    patch.insert(patch.end(), {0, 0, 0x40});
    write_file(at("trunc.ips"), patch);
    run_result made = tarnfix({"make", "-o", at("hack"), at("trunc.ips")});
    EXPECT_EQ(made.exit_code, 0);
    EXPECT_EQ(made.err, "tarnfix: " + at("trunc.ips") + ": warning: 3 bytes after the end marker are ignored\n");
}

TEST_F(Builder, InfoAndExtractRefuseOtherFiles)
{
    write_text(at("text"), "just some text\n");
    const std::vector<std::string> others = {at("text"), at("missing"), folder.path(), stub_path()};
    for (const std::string& other : others) {
        for (const auto& args : {std::vector<std::string>{"info", other},
                                 std::vector<std::string>{"extract", other, "-o", at("out.ips")}}) {
            run_result refused = tarnfix(args);
            EXPECT_NE(refused.exit_code, 0) << other;
            EXPECT_EQ(refused.err.rfind("tarnfix: " + other + ": ", 0), 0u) << refused.err;
            EXPECT_FALSE(file_present(at("out.ips")));
        }
    }
    run_result bare = tarnfix({"info", stub_path()});
    EXPECT_EQ(bare.err, "tarnfix: " + stub_path() + ": a bare stub: it carries no patch\n");
}

// The output is replaced whole or not at all: a failed make keeps what was there.
TEST_F(Builder, FailedMakeKeepsTheOldOutput)
{
    write_file(at("good.ips"), ips_builder().end());
    write_text(at("hack"), "old contents");
    run_result failed = tarnfix({"make", "--stub", at("good.ips"), "-o", at("hack"), at("good.ips")});
    EXPECT_NE(failed.exit_code, 0);
    EXPECT_EQ(read_file(at("hack")), to_bytes("old contents"));
}

TEST_F(Builder, HelpVersionAndUsage)
{
    run_result help = tarnfix({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("tarnfix make [--stub STUB] [--comment TEXT] [--force] -o OUTPUT PATCH"), std::string::npos);
    run_result version = tarnfix({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "tarnfix 1.0.0\n");
    EXPECT_NE(tarnfix({}).exit_code, 0);
    EXPECT_NE(tarnfix({"make", at("x.ips")}).exit_code, 0);
    EXPECT_NE(tarnfix({"frobnicate"}).exit_code, 0);
}

// Either builder makes the same file from either stub, and reads what the other made.
TEST_F(Builder, BuildersOfBothPlatformsServeStubsOfBoth)
{
    std::string windows_bin;
    std::string wine;
    if (!windows_programs(&windows_bin, &wine)) GTEST_SKIP() << "no Windows build or no Wine";
    const bytes patch = ips_builder().data(3, {1, 2}).end();
    write_file(at("p.ips"), patch);
    write_file(at("linux-stub"), read_file(stub_path()));
    write_file(at("windows-stub.exe"), read_file(windows_bin + "/tarnfix-stub.exe"));
    const std::string windows_builder = windows_bin + "/tarnfix.exe";
    run_options in_folder;
    in_folder.cwd = folder.path();

    for (const std::string stub : {"linux-stub", "windows-stub.exe"}) {
        ASSERT_EQ(tarnfix({"make", "--stub", at(stub), "--comment", "both", "-o", at("by-linux"), at("p.ips")}).exit_code, 0);
        run_result made = run_program(wine, {windows_builder, "make", "--stub", stub, "--comment", "both", "-o", "by-windows", "p.ips"}, in_folder);
        ASSERT_EQ(made.exit_code, 0) << made.err;
        EXPECT_EQ(read_file(at("by-windows")), read_file(at("by-linux"))) << stub;

        run_result info = run_program(wine, {windows_builder, "info", "by-linux"}, in_folder);
        EXPECT_EQ(info.exit_code, 0) << info.err;
        EXPECT_NE(info.out.find("comment: both\r\n"), std::string::npos) << info.out;
        run_result extracted = run_program(wine, {windows_builder, "extract", "by-linux", "-o", "back.ips"}, in_folder);
        EXPECT_EQ(extracted.exit_code, 0) << extracted.err;
        EXPECT_EQ(read_file(at("back.ips")), patch);
    }

    // The Windows builder's own stub is the one beside it.
    run_result beside = run_program(wine, {windows_builder, "make", "-o", "default.exe", "p.ips"}, in_folder);
    ASSERT_EQ(beside.exit_code, 0) << beside.err;
    run_result info = tarnfix({"info", at("default.exe")});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    bytes windows_stub = read_file(windows_bin + "/tarnfix-stub.exe");
    bytes made = read_file(at("default.exe"));
    EXPECT_TRUE(std::equal(windows_stub.begin(), windows_stub.begin() + 64, made.begin()));
}

}  // namespace
