// The stub on a terminal of its own: the overwrite question, the self-copy refusals and the
// closing wait, with the terminal as the player left it afterwards.
#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/stub_flavours.h"
#include "tests/support/terminal_session.h"

using namespace tarnfix_test;

namespace {

const std::string BANNER = "Tarnfix Self-patching file v1.0\r\n\r\nOn a terminal\r\n\r\n";
const std::string CLOSING = "\r\nPress any key to exit...\r\n";
const std::string QUESTION = "Warning : ./hack.sfc already exists. Overwrite?[y/n]";
const std::string PATCHED = "IPS size - 14 Bytes\r\n\rOK\r\n";

bytes game() { return to_bytes("original game contents"); }
bytes patched_game()
{
    bytes contents = game();
    contents[0] = 'O';
    return contents;
}
bytes old_output() { return to_bytes("an older hack.sfc"); }

mode_t mode_of(const std::string& path)
{
    struct stat path_stat;
    return stat(path.c_str(), &path_stat) == 0 ? path_stat.st_mode & 07777 : 0;
}

class Terminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_self_patching_file(linux_stub(), folder.path(), ips_builder().data(0, {'O'}).end(), "On a terminal");
        write_file(folder / "game.sfc", game());
    }
    static stub_flavour linux_stub() { return stub_flavours().front(); }
    std::unique_ptr<terminal_session> start(const std::vector<std::string>& args,
                                            const std::string& argv0 = "./hack")
    {
        return std::make_unique<terminal_session>(folder / "hack", args, argv0, folder.path());
    }
    temporary_folder folder;
};

// Every key but y, Y, n and N is passed over at the question; the run then goes as answered.
TEST_F(Terminal, QuestionWaitsForYesOrNo)
{
    struct answer_case {
        const char* key;
        bool overwrites;
    };
    for (answer_case answer : {answer_case{"y", true}, {"Y", true}, {"n", false}, {"N", false}}) {
        write_file(folder / "hack.sfc", old_output());
        auto session = start({"game.sfc"});
        ASSERT_TRUE(session->wait_for_key_read(QUESTION)) << session->screen();
        for (const char* ignored : {"x", "\r", " ", "\x1b[A", "\x1b[D", "\x1bOP", "\x1b[17~", "\x1b[1;2D", "\x03", "\x1b"})
            session->press(ignored);
        session->press(answer.key);
        ASSERT_TRUE(session->wait_for_key_read(CLOSING)) << session->screen();
        session->press("k");
        EXPECT_EQ(session->wait_exit(), 0);

        std::string expected = BANNER + QUESTION + answer.key + "\r\n" + (answer.overwrites ? PATCHED : "") + CLOSING;
        EXPECT_EQ(session->screen(), expected) << answer.key;
        EXPECT_EQ(read_file(folder / "hack.sfc"), answer.overwrites ? patched_game() : old_output()) << answer.key;
        EXPECT_EQ(read_file(folder / "game.sfc"), game());
    }
}

TEST_F(Terminal, YesReplacesAReadOnlyOutput)
{
    write_file(folder / "hack.sfc", old_output());
    chmod((folder / "hack.sfc").c_str(), 0444);
    auto session = start({"game.sfc"});
    ASSERT_TRUE(session->wait_for_key_read(QUESTION)) << session->screen();
    session->press("y");
    ASSERT_TRUE(session->wait_for_key_read(CLOSING)) << session->screen();
    session->press(" ");
    EXPECT_EQ(session->wait_exit(), 0);
    EXPECT_EQ(session->screen(), BANNER + QUESTION + "y\r\n" + PATCHED + CLOSING);
    EXPECT_EQ(read_file(folder / "hack.sfc"), patched_game());
}

// Keys typed before the stub asks are its answers, in order.
TEST_F(Terminal, KeysTypedAheadAreReadFirst)
{
    write_file(folder / "hack.sfc", old_output());
    auto session = start({"game.sfc"});
    session->press("qyz");
    EXPECT_EQ(session->wait_exit(), 0);
    EXPECT_NE(session->screen().find(QUESTION + "y\r\n" + PATCHED + CLOSING), std::string::npos) << session->screen();
    EXPECT_EQ(read_file(folder / "hack.sfc"), patched_game());
}

// None of these asks or touches a file: the input is the output, or the output is the stub.
TEST_F(Terminal, SelfCopyIsRefusedBeforeAnyQuestion)
{
    write_file(folder / "hack.sfc", old_output());
    chmod((folder / "hack.sfc").c_str(), 0444);
    symlink("hack.sfc", (folder / "link.sfc").c_str());
    link((folder / "hack.sfc").c_str(), (folder / "hard.sfc").c_str());
    struct refusal {
        std::string input;
        std::string argv0;
    };
    const refusal refusals[] = {
        {"./hack.sfc", "./hack"},           // the same spelling
        {"./HACK.sfc", "./hack"},           // another case
        {"hack.sfc", "./hack"},             // another spelling of the same file
        {folder / "hack.sfc", "./hack"},    // an absolute path
        {"link.sfc", "./hack"},             // a link to it
        {"hard.sfc", "./hack"},             // a hard link
        {"game.sfc", "./hack.sfc"},         // the output would be the stub's own file
    };
    for (const refusal& test : refusals) {
        if (test.argv0 == "./hack.sfc") {
            unlink((folder / "hack.sfc").c_str());
            link((folder / "hack").c_str(), (folder / "hack.sfc").c_str());
        }
        const bytes stub_before = read_file(folder / "hack");
        const bytes output_before = read_file(folder / "hack.sfc");
        const mode_t mode_before = mode_of(folder / "hack.sfc");
        auto session = start({test.input}, test.argv0);
        ASSERT_TRUE(session->wait_for_key_read(CLOSING)) << session->screen();
        session->press("n");
        EXPECT_EQ(session->wait_exit(), 0);
        EXPECT_EQ(session->screen(), BANNER + "Error : Can't copy file\r\n" + CLOSING) << test.input;
        EXPECT_EQ(read_file(folder / "hack.sfc"), output_before) << test.input;
        EXPECT_EQ(mode_of(folder / "hack.sfc"), mode_before) << test.input;
        EXPECT_EQ(read_file(folder / "hack"), stub_before);
        EXPECT_EQ(read_file(folder / "game.sfc"), game());
    }
}

TEST_F(Terminal, ClosingWaitEndsOnAnyKeyAndRestoresTheTerminal)
{
    for (const char* key : {"a", "\x1b[B", "\x1b[24~", "\x03", "\r"}) {
        auto session = start({});
        const struct termios before = session->modes();
        ASSERT_TRUE(session->wait_for_key_read(CLOSING)) << session->screen();
        session->press(key);
        EXPECT_EQ(session->wait_exit(), 0) << "signal " << session->ended_by();
        EXPECT_EQ(session->screen(), BANNER + "Usage : ./hack < file >\r\n" + CLOSING);
        EXPECT_TRUE(same_modes(session->modes(), before));
        EXPECT_EQ(session->unread_input(), "") << "left over from a key";
    }
}

// Output to a file still waits for a key from the terminal; the transcript goes to the file.
TEST_F(Terminal, KeyComesFromTheTerminalWhenOutputIsAFile)
{
    const std::string script = "exec ./hack > transcript.txt";
    auto session = std::make_unique<terminal_session>("/bin/sh", std::vector<std::string>{"-c", script}, "sh",
                                                      folder.path());
    usleep(300 * 1000);
    EXPECT_EQ(read_file(folder / "transcript.txt"), bytes{}) << "the transcript is written at the end";
    session->press("z");
    EXPECT_EQ(session->wait_exit(), 0);
    EXPECT_EQ(read_file(folder / "transcript.txt"), to_bytes(BANNER + "Usage : ./hack < file >\r\n" + CLOSING));
}

TEST_F(Terminal, EndingSignalsWhileWaitingRestoreTheTerminal)
{
    for (int number : {SIGTERM, SIGHUP}) {
        auto session = start({});
        const struct termios before = session->modes();
        ASSERT_TRUE(session->wait_for_key_read(CLOSING)) << session->screen();
        usleep(50 * 1000);
        session->send_signal(number);
        EXPECT_EQ(session->wait_exit(), -1);
        EXPECT_EQ(session->ended_by(), number);
        EXPECT_TRUE(same_modes(session->modes(), before));
    }
}

}  // namespace
