// Pseudo-terminal sessions for the tests.
#include "tests/support/terminal_session.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnfix_test {

namespace {

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

terminal_session::terminal_session(const std::string& program, const std::vector<std::string>& args,
                                   const std::string& argv0, const std::string& folder)
{
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");

    // An ordinary cooked terminal, but output bytes reach the screen as the program wrote them.
    struct termios modes;
    tcgetattr(slave_, &modes);
    modes.c_oflag &= ~tcflag_t(OPOST);
    tcsetattr(slave_, TCSANOW, &modes);

    std::vector<std::string> words = {argv0.empty() ? program : argv0};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        close(master_);
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
        dup2(slave_, STDIN_FILENO);
        dup2(slave_, STDOUT_FILENO);
        dup2(slave_, STDERR_FILENO);
        if (slave_ > STDERR_FILENO) close(slave_);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

terminal_session::~terminal_session()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(master_);
    close(slave_);
}

void terminal_session::read_available(int timeout_ms)
{
    struct pollfd watched = {master_, POLLIN, 0};
    while (poll(&watched, 1, timeout_ms) > 0 && (watched.revents & POLLIN)) {
        char chunk[4096];
        ssize_t got = read(master_, chunk, sizeof chunk);
        if (got <= 0) return;
        screen_.append(chunk, size_t(got));
        timeout_ms = 0;
    }
}

bool terminal_session::wait_for(const std::string& text, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    while (screen_.find(text) == std::string::npos) {
        if (now_ms() > deadline) return false;
        read_available(20);
    }
    return true;
}

bool terminal_session::wait_for_key_read(const std::string& text, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    if (!wait_for(text, timeout_ms)) return false;
    while (modes().c_lflag & ICANON) {
        if (now_ms() > deadline) return false;
        read_available(2);
    }
    return true;
}

void terminal_session::press(const std::string& key, int pause_ms)
{
    if (write(master_, key.data(), key.size()) != ssize_t(key.size())) throw std::runtime_error("typing failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
}

int terminal_session::wait_exit(int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (now_ms() > deadline) return -2;
        read_available(10);
    }
    pid_ = -1;
    read_available(50);
    if (WIFSIGNALED(status)) {
        signal_ = WTERMSIG(status);
        return -1;
    }
    return WEXITSTATUS(status);
}

void terminal_session::send_signal(int number) { kill(pid_, number); }

struct termios terminal_session::modes() const
{
    struct termios current;
    tcgetattr(slave_, &current);
    return current;
}

std::string terminal_session::unread_input() const
{
    int flags = fcntl(slave_, F_GETFL);
    fcntl(slave_, F_SETFL, flags | O_NONBLOCK);
    // The parent's slave end reads what the program left; cooked mode would wait for a line.
    struct termios raw = modes();
    struct termios saved = raw;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &raw);
    std::string left;
    char chunk[256];
    ssize_t got;
    while ((got = read(slave_, chunk, sizeof chunk)) > 0) left.append(chunk, size_t(got));
    tcsetattr(slave_, TCSANOW, &saved);
    fcntl(slave_, F_SETFL, flags);
    return left;
}

bool same_modes(const struct termios& first, const struct termios& second)
{
    return first.c_iflag == second.c_iflag && first.c_oflag == second.c_oflag &&
           first.c_lflag == second.c_lflag && first.c_cc[VMIN] == second.c_cc[VMIN] &&
           first.c_cc[VTIME] == second.c_cc[VTIME];
}

}  // namespace tarnfix_test
