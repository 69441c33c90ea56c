// The self-patching file, run for real on real files without a terminal: whole transcripts, output
// files, and an input that is never changed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/stub_flavours.h"
#include "tests/support/ips_model.h"

using namespace tarnfix_test;

namespace {

const std::string COMMENT = "Test hack 1.0";

std::string banner(const std::string& comment = COMMENT)
{
    return "Tarnfix Self-patching file v1.0\n\n" + comment + "\n\n";
}

const std::string CLOSING = "\nPress any key to exit...\n";

bytes game()
{
    bytes contents(64);
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = uint8_t(0x40 + i);
    return contents;
}

class StubRun : public ::testing::TestWithParam<stub_flavour> {
protected:
    const stub_flavour& flavour() const { return GetParam(); }
    std::string out(const std::string& extension) const { return flavour().stem + "." + extension; }
    std::string at(const std::string& name) const { return folder / name; }

    void make(const bytes& patch, const std::string& comment = COMMENT, bool force = false)
    {
        make_self_patching_file(flavour(), folder.path(), patch, comment, force);
    }
    run_result run(const std::vector<std::string>& args, run_options options = {})
    {
        return run_stub(flavour(), folder.path(), args, options);
    }
    void expect_transcript(const run_result& result, const std::string& text)
    {
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, crlf(text));
    }

    temporary_folder folder;
};

TEST_P(StubRun, PatchesACopyBesideItself)
{
    make(ips_builder().data(2, {0xAA, 0xBB}).run(60, 8, 0xCC).end());
    write_file(at("game.sfc"), game());
    run_result result = run({"game.sfc", "ignored", "too"});
    expect_transcript(result, banner() + "IPS size - 23 Bytes\n\rOK\n" + CLOSING);

    bytes expected = game();
    expected[2] = 0xAA;
    expected[3] = 0xBB;
    expected.resize(68, 0xCC);
    for (size_t i = 60; i < 68; ++i) expected[i] = 0xCC;
    EXPECT_EQ(read_file(at("hack.sfc")), expected);
    EXPECT_EQ(read_file(at("game.sfc")), game());
}

// However far the records reach into the input (a little way, most of it, past its end), the copy
// and the records together make what the model makes.
TEST_P(StubRun, RecordsReachingAnyDepthOfTheInputMakeTheModelsOutput)
{
    const bytes patches[] = {
        ips_builder().data(3, {1, 2}).end(),
        ips_builder().run(10, 30, 0x77).data(1, {9}).end(),
        ips_builder().data(50, {5, 5, 5, 5}).run(70, 3, 1).end(),
    };
    for (const bytes& patch : patches) {
        make(patch);
        write_file(at("game.sfc"), game());
        unlink(at("hack.sfc").c_str());
        run_result result = run({"game.sfc"});
        EXPECT_EQ(result.out, crlf(banner() + "IPS size - " + std::to_string(patch.size()) + " Bytes\n\rOK\n" + CLOSING));
        EXPECT_EQ(read_file(at("hack.sfc")), tarnfix_model::apply_model(patch, game()).output);
        EXPECT_EQ(read_file(at("game.sfc")), game());
    }
}

TEST_P(StubRun, WithoutAnArgumentShowsUsage)
{
    make(ips_builder().end());
    expect_transcript(run({}), banner() + "Usage : " + flavour().invoked + " < file >\n" + CLOSING);
}

struct failure_case {
    const char* name;
    bytes patch;
    const char* input;       // made as a copy of the game unless "missing", "folder" or "fifo"
    const char* extension;   // of the output
    const char* lines;       // between the banner and the closing line; %o is the output name
};

void PrintTo(const failure_case& test, std::ostream* stream) { *stream << test.name; }

std::string expand(const std::string& lines, const std::string& output)
{
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines.compare(i, 2, "%o") == 0) {
            text += output;
            ++i;
        } else {
            text += lines[i];
        }
    }
    return text;
}

class StubFailure : public ::testing::TestWithParam<std::tuple<stub_flavour, failure_case>> {};

TEST_P(StubFailure, SaysWhyAndLeavesNoOutput)
{
    const stub_flavour& flavour = std::get<0>(GetParam());
    const failure_case& test = std::get<1>(GetParam());
    temporary_folder folder;
    make_self_patching_file(flavour, folder.path(), test.patch, COMMENT, true);
    const std::string input = test.input;
    if (input == "folder") mkdir((folder / input).c_str(), 0755);
    else if (input == "fifo") mkfifo((folder / input).c_str(), 0644);
    else if (input != "missing" && input[0] != '/') write_file(folder / input, game());

    run_result result = run_stub(flavour, folder.path(), {input});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, crlf(banner() + expand(test.lines, flavour.stem + "." + test.extension) + CLOSING));
    EXPECT_FALSE(file_present(folder / ("hack." + std::string(test.extension))));
    if (input != "missing" && input != "folder" && input != "fifo" && input[0] != '/') {
        EXPECT_EQ(read_file(folder / input), game());
    }
}

const failure_case FAILURES[] = {
    {"missing_input", ips_builder().end(), "missing", "missing", "ERROR : Failed to copy file\n"},
    {"folder_as_input", ips_builder().end(), "folder", "folder", "ERROR : Failed to copy file\n"},
    {"fifo_as_input", ips_builder().end(), "fifo", "fifo", "ERROR : Failed to copy file\n"},
    {"device_as_input", ips_builder().end(), "/dev/zero", "zero", "ERROR : Failed to copy file\n"},
    {"bad_header", {'P', 'A', 'T', 'C', 'X', 0, 0, 1, 0, 1, 1, 'E', 'O', 'F'}, "game.sfc", "sfc",
     "IPS size - 14 Bytes\nERROR : Can't find IPS header\n"},
    {"empty_patch", {}, "game.sfc", "sfc", "IPS size - 0 Bytes\nERROR : Can't find IPS header\n"},
    {"missing_end_marker", ips_builder().data(1, {1, 2, 3}).patch, "game.sfc", "sfc",
     "IPS size - 13 Bytes\n\rERROR : Can't find EOF[0x000d]\n"},
    {"cut_off_record", ips_builder().raw({0, 0, 16, 0, 16, 1, 2, 3, 4}).patch, "game.sfc", "sfc",
     "IPS size - 14 Bytes\n\rERROR : Can't find EOF[0x001a]\n"},
};

std::string failure_name(const ::testing::TestParamInfo<std::tuple<stub_flavour, failure_case>>& info)
{
    return std::get<0>(info.param).label + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Stubs, StubFailure,
                         ::testing::Combine(::testing::ValuesIn(stub_flavours()), ::testing::ValuesIn(FAILURES)),
                         failure_name);

// Started by a name that is not its file's (on Windows, without its extension): the output is named
// and guarded, then the patch cannot be read and nothing is copied.
TEST_P(StubRun, StartedByANameThatNamesNoFileCannotLoad)
{
    make(ips_builder().end());
    write_file(at("game.sfc"), game());
    run_options options;
    options.argv0 = flavour().unloadable;
    expect_transcript(run({"game.sfc"}, options), banner() + "ERROR : Failed to initialize\n" + CLOSING);
    EXPECT_FALSE(file_present(at(flavour().unloadable + ".sfc")));
}

// Only the file names' dots count, and the output lies beside the stub as it was named.
TEST_P(StubRun, NamesTheOutputFromTheFileNamesAlone)
{
    make(ips_builder().data(0, {'!'}).end());
    mkdir(at("roms.v1").c_str(), 0755);
    mkdir(at("work").c_str(), 0755);
    write_file(at("roms.v1/game.gb"), game());
    write_file(at("roms.v1/game"), game());
    const std::string s = flavour().separator;
    const std::string parent_stub = ".." + s + flavour().file_name;
    struct naming_row {
        std::string folder;  // where the stub is started, below the test's folder
        std::string stub;    // as typed
        std::string input;
        std::string output;  // as the stub names it
        std::string file;    // where that is, from the test's folder
    };
    const naming_row rows[] = {
        {"work", parent_stub, ".." + s + "roms.v1" + s + "game.gb", ".." + s + "hack.gb", "hack.gb"},
        {"", flavour().invoked, "roms.v1" + s + "game", flavour().stem + ".game", "hack.game"},
        {"", flavour().invoked, "roms.v1/game.gb", flavour().stem + ".gb", "hack.gb"},
    };
    for (const naming_row& row : rows) {
        run_options options;
        options.argv0 = row.stub;
        if (!row.folder.empty()) options.cwd = at(row.folder);
        run_result result = run_stub(flavour(), folder.path(), {row.input}, options);
        bytes expected = game();
        expected[0] = '!';
        expect_transcript(result, banner() + "IPS size - 14 Bytes\n\rOK\n" + CLOSING);
        EXPECT_EQ(read_file(at(row.file)), expected) << row.output;
        unlink(at(row.file).c_str());
    }
}

TEST_P(StubRun, DamagedStubFileCannotLoad)
{
    make(ips_builder().data(0, bytes(100, 1)).end());
    bytes self = read_file(at(flavour().file_name));
    self.resize(self.size() - 10);
    write_file(at(flavour().file_name), self);
    chmod(at(flavour().file_name).c_str(), 0755);
    write_file(at("game.sfc"), game());
    expect_transcript(run({"game.sfc"}), banner() + "ERROR : Failed to initialize\n" + CLOSING);
    EXPECT_FALSE(file_present(at("hack.sfc")));
}

TEST_P(StubRun, CommentIsPrintedAsItsBytes)
{
    const std::string comment = "100% sure: %s%n%x%%";
    make(ips_builder().end(), comment);
    expect_transcript(run({}), banner(comment) + "Usage : " + flavour().invoked + " < file >\n" + CLOSING);
}

TEST_P(StubRun, OutputNameThatDoesNotFitTouchesNothing)
{
    make(ips_builder().end());
    const std::string input = "game." + std::string(255, 'x');
    expect_transcript(run({input}), banner() + "ERROR : Output name too long\n" + CLOSING);
}

// A write over the file-size limit fails at the records; the run says so and removes the output.
TEST_P(StubRun, FailedWriteDeletesTheOutput)
{
    if (flavour().wine) GTEST_SKIP() << "Wine ignores the file-size limit of its Linux process";
    make(ips_builder().data(1, {9}).data(20000, bytes(100, 7)).end());
    write_file(at("game.sfc"), game());
    run_options options;
    options.file_size_limit = 8192;
    expect_transcript(run({"game.sfc"}, options),
                      banner() + "IPS size - 119 Bytes\n\rERROR : Failed to write " + out("sfc") + "\n" + CLOSING);
    EXPECT_FALSE(file_present(at("hack.sfc")));
    EXPECT_EQ(read_file(at("game.sfc")), game());
}

// The copy over the limit fails too, and leaves nothing half-made.
TEST_P(StubRun, FailedCopyLeavesNothing)
{
    if (flavour().wine) GTEST_SKIP() << "Wine ignores the file-size limit of its Linux process";
    make(ips_builder().end());
    write_file(at("big.sfc"), bytes(64 * 1024, 3));
    run_options options;
    options.file_size_limit = 8192;
    expect_transcript(run({"big.sfc"}, options), banner() + "ERROR : Failed to copy file\n" + CLOSING);
    EXPECT_FALSE(file_present(at("hack.sfc")));
}

TEST_P(StubRun, CopyTakesTheInputsPermissionsMadeWritable)
{
    if (flavour().wine) GTEST_SKIP() << "permission bits are a Linux matter";
    make(ips_builder().data(0, {1}).end());
    write_file(at("game.sfc"), game());
    chmod(at("game.sfc").c_str(), 0444);
    expect_transcript(run({"game.sfc"}), banner() + "IPS size - 14 Bytes\n\rOK\n" + CLOSING);
    struct stat output_stat;
    ASSERT_EQ(stat(at("hack.sfc").c_str(), &output_stat), 0);
    EXPECT_EQ(output_stat.st_mode & 0777, 0644u);
}

// With no terminal the question can never be answered: the answer is no and nothing changes.
TEST_P(StubRun, WithoutATerminalTheQuestionIsAnsweredNo)
{
    make(ips_builder().data(0, {1}).end());
    write_file(at("game.sfc"), game());
    write_text(at("hack.sfc"), "an older output");
    chmod(at("hack.sfc").c_str(), 0444);
    expect_transcript(run({"game.sfc"}),
                      banner() + "Warning : " + out("sfc") + " already exists. Overwrite?[y/n]\n" + CLOSING);
    EXPECT_EQ(read_file(at("hack.sfc")), to_bytes("an older output"));
    struct stat output_stat;
    ASSERT_EQ(stat(at("hack.sfc").c_str(), &output_stat), 0);
    EXPECT_EQ(output_stat.st_mode & 0777, 0444u);
    EXPECT_EQ(read_file(at("game.sfc")), game());
}

TEST_P(StubRun, InputThatIsTheOutputIsRefused)
{
    make(ips_builder().data(0, {1}).end());
    write_text(at("hack.sfc"), "the player's file");
    const std::string other_spelling = flavour().wine ? ".\\HACK.SFC" : "hack.sfc";
    for (const std::string& input : {out("sfc"), other_spelling}) {
        expect_transcript(run({input}), banner() + "Error : Can't copy file\n" + CLOSING);
        EXPECT_EQ(read_file(at("hack.sfc")), to_bytes("the player's file")) << input;
    }
}

// An ending signal during the copy or the records removes the half-made output; the process ends by
// it, and the input is untouched.
TEST_P(StubRun, InterruptedRunLeavesNoOutput)
{
    if (flavour().wine) GTEST_SKIP() << "Windows ends a program at once on its console's control events";
    struct interruption {
        const char* phase;
        int number;
    };
    for (interruption test : {interruption{"copy", SIGINT}, {"copy", SIGHUP}, {"records", SIGTERM},
                              {"records", SIGINT}}) {
        const bool in_copy = std::string(test.phase) == "copy";
        // Many records over the whole 16 MiB the format reaches: every window of the head walks them.
        ips_builder many;
        for (uint32_t i = 0; i < (in_copy ? 1 : 1500000); ++i) {
            uint32_t offset = (i * 40009u) % 0xFFFFFF;
            many.data(offset == 0x454F46 ? 0 : offset, {uint8_t(i)});
        }
        make(many.end());
        if (in_copy) {
            // A large sparse input: quick to make, slow to copy.
            FILE* input = fopen(at("game.sfc").c_str(), "wb");
            ASSERT_EQ(ftruncate(fileno(input), 4LL << 30), 0);
            fclose(input);
        } else {
            write_file(at("game.sfc"), game());
        }
        // During the copy: a while into it. During the records: once the copy has made the output.
        run_options options;
        options.signal_number = test.number;
        options.signal_after_ms = 100;
        if (!in_copy) options.signal_when_present = at("hack.sfc");
        run_result result = run({"game.sfc"}, options);
        EXPECT_EQ(result.signal, test.number) << test.phase << ": " << result.out;
        EXPECT_FALSE(file_present(at("hack.sfc"))) << test.phase;
        struct stat input_stat;
        ASSERT_EQ(stat(at("game.sfc").c_str(), &input_stat), 0);
        if (in_copy) {
            EXPECT_EQ(input_stat.st_size, 4LL << 30);
        } else {
            EXPECT_EQ(read_file(at("game.sfc")), game());
        }
        unlink(at("game.sfc").c_str());
        unlink(at("hack.sfc").c_str());
    }
}

// Permission faults. As root, permission bits stop nothing, so the stub then runs as nobody.
TEST_P(StubRun, FolderThatCannotBeWrittenGetsNoOutput)
{
    if (flavour().wine) GTEST_SKIP() << "permission bits are a Linux matter";
    make(ips_builder().data(0, {1}).end());
    write_file(at("game.sfc"), game());
    chmod(folder.path().c_str(), 0555);
    run_options options;
    options.as_nobody = true;
    expect_transcript(run({"game.sfc"}, options), banner() + "ERROR : Failed to copy file\n" + CLOSING);
    chmod(folder.path().c_str(), 0755);
    EXPECT_FALSE(file_present(at("hack.sfc")));
    EXPECT_EQ(read_file(at("game.sfc")), game());
}

TEST_P(StubRun, UnreadableStubCannotLoad)
{
    if (flavour().wine) GTEST_SKIP() << "permission bits are a Linux matter";
    make(ips_builder().data(0, {1}).end());
    write_file(at("game.sfc"), game());
    chmod(folder.path().c_str(), 0777);
    chmod(at(flavour().file_name).c_str(), 0111);
    run_options options;
    options.as_nobody = true;
    expect_transcript(run({"game.sfc"}, options), banner() + "ERROR : Failed to initialize\n" + CLOSING);
    EXPECT_FALSE(file_present(at("hack.sfc")));
    EXPECT_EQ(read_file(at("game.sfc")), game());
}

std::string flavour_name(const ::testing::TestParamInfo<stub_flavour>& info) { return info.param.label; }

INSTANTIATE_TEST_SUITE_P(Stubs, StubRun, ::testing::ValuesIn(stub_flavours()), flavour_name);

}  // namespace
