// A program run on a pseudo-terminal of its own, typed at and read from like a player's console.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>
#include <termios.h>

namespace tarnfix_test {

class terminal_session {
public:
    // Starts program with args in folder on a new pseudo-terminal that becomes its controlling
    // terminal and its standard input, output and error. Output passes through untranslated.
    terminal_session(const std::string& program, const std::vector<std::string>& args,
                     const std::string& argv0, const std::string& folder);
    ~terminal_session();
    terminal_session(const terminal_session&) = delete;
    terminal_session& operator=(const terminal_session&) = delete;

    // Waits until the screen holds text; false after timeout_ms.
    bool wait_for(const std::string& text, int timeout_ms = 10000);
    // Waits until the screen holds text and the program is reading keys (its terminal raw), so that
    // a key pressed next is read, not echoed by a terminal still in line mode; false after timeout_ms.
    bool wait_for_key_read(const std::string& text, int timeout_ms = 10000);
    // Presses one key: its bytes (one, or an escape sequence) in one write, then a pause so that
    // the next key comes apart from it, as a player's would.
    void press(const std::string& key, int pause_ms = 40);
    // Waits for the program's end: its exit status, or -1 when a signal ended it (see ended_by).
    int wait_exit(int timeout_ms = 10000);
    // Sends a signal to the program.
    void send_signal(int number);

    const std::string& screen() const { return screen_; }
    int ended_by() const { return signal_; }
    // The terminal's modes now, as the shell would find them after the program.
    struct termios modes() const;
    // Bytes typed but not read by anyone: what would reach the shell next.
    std::string unread_input() const;

private:
    void read_available(int timeout_ms);

    pid_t pid_ = -1;
    int master_ = -1;
    int slave_ = -1;
    std::string screen_;
    int signal_ = 0;
};

// The parts of the modes that a key read changes and must put back.
bool same_modes(const struct termios& first, const struct termios& second);

}  // namespace tarnfix_test
