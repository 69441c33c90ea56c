// POSIX (Linux) side of platform.h: the copy through the kernel's copy_file_range, permission bits
// in place of Windows attributes, paths as given in place of short names, the console's CR LF
// translation and buffering, and the key read from the controlling terminal in raw mode with the
// terminal's settings restored on every way out, signals included.
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Waits this long for the rest of an escape sequence once its first byte has come.
constexpr int ESCAPE_SEQUENCE_WAIT_MS = 60;

// The signals that end a run; those the parent set to be ignored stay ignored.
sigset_t ending_signals()
{
    sigset_t set;
    sigemptyset(&set);
    const int candidates[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
    for (int number : candidates) {
        struct sigaction current;
        if (sigaction(number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&set, number);
    }
    return set;
}

// The ending signal that has arrived while held, or 0.
int pending_ending_signal()
{
    sigset_t pending;
    if (sigpending(&pending) != 0) return 0;
    const int candidates[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
    for (int number : candidates)
        if (sigismember(&pending, number) == 1) return number;
    return 0;
}

int same_inode(const struct stat& first, const struct stat& second)
{
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Moves every byte from offset on from in to out with read and write; 1 when all arrived.
int copy_by_read_write(int in, int out, off_t offset)
{
    char buffer[1 << 16];
    for (unsigned chunk = 0;; ++chunk) {
        if (chunk % 128 == 0 && pending_ending_signal()) return 0;
        ssize_t got = pread(in, buffer, sizeof buffer, offset);
        if (got == 0) return 1;
        if (got < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = pwrite(out, buffer + done, static_cast<size_t>(got - done), offset + done);
            if (put < 0) {
                if (errno == EINTR) continue;
                return 0;
            }
            done += put;
        }
        offset += got;
    }
}

// Copies in to out in the kernel where it can, falling back to read and write where the file
// systems or the kernel do not support it. Requests stay moderate: some kernels stage a request
// whole, and one of 1 GiB was ten times slower than the same bytes in 8 MiB pieces.
constexpr size_t COPY_REQUEST_SIZE = size_t{8} << 20;

// Copies the bytes from offset from on; those below are the caller's to write.
int copy_contents(int in, int out, off_t from)
{
    off_t in_offset = from;
    off_t out_offset = from;
    for (;;) {
        if (pending_ending_signal()) return 0;
        ssize_t moved = copy_file_range(in, &in_offset, out, &out_offset, COPY_REQUEST_SIZE, 0);
        if (moved == 0) return 1;
        if (moved > 0) continue;
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == EBADF || errno == EPERM)
            return copy_by_read_write(in, out, in_offset);
        return 0;
    }
}

}  // namespace

int platform_copy_file(const char* source, const char* destination, uint64_t skip)
{
    // Open without blocking so that a FIFO fails at once instead of waiting for a writer.
    int in = open(source, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return 0;
    struct stat in_stat;
    if (fstat(in, &in_stat) != 0 || !S_ISREG(in_stat.st_mode)) {
        close(in);
        return 0;
    }

    // An existing destination must be a writable regular file other than the source.
    struct stat out_stat;
    if (stat(destination, &out_stat) == 0 &&
        (!S_ISREG(out_stat.st_mode) || same_inode(in_stat, out_stat) ||
         (out_stat.st_mode & S_IWUSR) == 0)) {
        close(in);
        return 0;
    }

    // Open without truncating, so that the identity check below runs before any byte is lost.
    int out = open(destination, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
    if (out < 0) {
        close(in);
        return 0;
    }
    if (fstat(out, &out_stat) != 0 || !S_ISREG(out_stat.st_mode) || same_inode(in_stat, out_stat)) {
        close(out);
        close(in);
        return 0;
    }

    // The head is left out only when no more follows it than it holds: copying much after a hole
    // left for the head was far slower on some file systems than copying the head twice.
    const uint64_t length = static_cast<uint64_t>(in_stat.st_size);
    uint64_t from = skip < length ? skip : length;
    if (length - from > from) from = 0;

    // From here on a failure removes the half-made copy. Only an old output is cut to nothing: a
    // needless truncation made closing the new file cost as much as the copy on some kernels.
    int ok = (out_stat.st_size == 0 || ftruncate(out, 0) == 0) &&
             copy_contents(in, out, static_cast<off_t>(from)) &&
             fchmod(out, in_stat.st_mode & 0777) == 0;
    close(in);
    if (close(out) != 0) ok = 0;
    if (!ok) unlink(destination);
    return ok;
}

int platform_make_writable(const char* path)
{
    struct stat path_stat;
    if (stat(path, &path_stat) != 0) return 0;
    if (path_stat.st_mode & S_IWUSR) return 1;
    return chmod(path, (path_stat.st_mode & 07777) | S_IWUSR) == 0;
}

int platform_delete_file(const char* path) { return unlink(path) == 0; }

unsigned platform_short_path(const char* path, char* buffer, unsigned capacity)
{
    struct stat path_stat;
    if (stat(path, &path_stat) != 0) return 0;
    size_t length = strlen(path);
    if (length >= capacity) return 0;
    memcpy(buffer, path, length + 1);
    return static_cast<unsigned>(length);
}

int platform_same_file(const char* first, const char* second)
{
    struct stat first_stat;
    struct stat second_stat;
    return stat(first, &first_stat) == 0 && stat(second, &second_stat) == 0 &&
           same_inode(first_stat, second_stat);
}

int platform_is_regular_file(const char* path)
{
    struct stat path_stat;
    return stat(path, &path_stat) == 0 && S_ISREG(path_stat.st_mode);
}

const char* platform_path_separators() { return "/"; }

const char* platform_next_char(const char* text) { return *text ? text + 1 : text; }

int platform_open_for_update(const char* path, intptr_t* handle)
{
    int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    *handle = fd;
    return 1;
}

int platform_open_for_reading(const char* path, intptr_t* handle)
{
    int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    *handle = fd;
    return 1;
}

int platform_read_at(intptr_t handle, uint64_t offset, void* buffer, size_t length, size_t* got)
{
    char* bytes = static_cast<char*>(buffer);
    *got = 0;
    while (*got < length) {
        ssize_t read_now = pread(static_cast<int>(handle), bytes + *got, length - *got,
                                 static_cast<off_t>(offset + *got));
        if (read_now < 0 && errno == EINTR) continue;
        if (read_now < 0) return 0;
        if (read_now == 0) break;
        *got += static_cast<size_t>(read_now);
    }
    return 1;
}

int platform_write_at(intptr_t handle, uint64_t offset, const void* data, size_t length)
{
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t put = pwrite(static_cast<int>(handle), bytes, length, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return 0;
        bytes += put;
        length -= static_cast<size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return 1;
}

int platform_close_file(intptr_t handle) { return close(static_cast<int>(handle)) == 0; }

const uint8_t* platform_map_file(const char* path, uint64_t length)
{
    if (length == 0 || length > SIZE_MAX) return nullptr;
    int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    void* mapping = mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    return mapping == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(mapping);
}

void platform_unmap_file(const uint8_t* mapping, uint64_t length)
{
    munmap(const_cast<uint8_t*>(mapping), static_cast<size_t>(length));
}

void platform_hold_interruptions()
{
    sigset_t held = ending_signals();
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

int platform_interrupted() { return pending_ending_signal() != 0; }

void platform_end_by_interruption()
{
    int number = pending_ending_signal();
    if (number == 0) number = SIGTERM;
    fflush(stdout);
    signal(number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + number);
}

int platform_own_executable_path(char* buffer, size_t capacity)
{
    if (capacity == 0) return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, capacity);
    if (length <= 0 || static_cast<size_t>(length) >= capacity) return 0;
    buffer[length] = '\0';
    return 1;
}

const char* platform_executable_suffix() { return ""; }

int platform_replace_file(const char* temporary, const char* target)
{
    return rename(temporary, target) == 0;
}

int platform_make_executable(const char* path)
{
    mode_t mask = umask(0);
    umask(mask);
    return chmod(path, 0777 & ~mask) == 0;
}

// ---- Console -----------------------------------------------------------------------------------

void console_begin(char* buffer, size_t capacity)
{
    // A write over a file-size limit or into a closed pipe is then an error to report, not a
    // signal that ends the run with a half-made output on disk.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    if (isatty(STDOUT_FILENO))
        setvbuf(stdout, nullptr, _IONBF, 0);
    else
        setvbuf(stdout, buffer, _IOFBF, capacity);
}

void console_write(const char* text, size_t length)
{
    // Translate line breaks through a small local buffer so that a message is one write on a
    // terminal.
    char chunk[512];
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (used + 2 > sizeof chunk) {
            fwrite(chunk, 1, used, stdout);
            used = 0;
        }
        if (text[i] == '\n') chunk[used++] = '\r';
        chunk[used++] = text[i];
    }
    if (used > 0) fwrite(chunk, 1, used, stdout);
}

void console_end() { fflush(stdout); }

void console_print(const char* text) { console_write(text, strlen(text)); }

void console_printf(const char* format, ...)
{
    char message[1025];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    console_write(message, static_cast<size_t>(length) < sizeof message ? static_cast<size_t>(length)
                                                                        : sizeof message - 1);
}

namespace {

// The terminal the key read talks to, with what must be put back afterwards.
struct raw_terminal {
    int fd;
    struct termios saved;
    sigset_t saved_mask;
    int signals;  // a signalfd for the signals that end the process meanwhile, or -1
};

// Opens the controlling terminal in raw mode; 0 when there is none.
int enter_raw_terminal(raw_terminal* terminal)
{
    terminal->fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal->fd < 0) return 0;
    if (tcgetattr(terminal->fd, &terminal->saved) != 0) {
        close(terminal->fd);
        return 0;
    }

    // Hold the ending signals so that they are taken from the signalfd with the terminal restored.
    sigset_t held = ending_signals();
    sigprocmask(SIG_BLOCK, &held, &terminal->saved_mask);
    terminal->signals = signalfd(-1, &held, SFD_CLOEXEC);

    // Raw input: no echo, no line editing, Ctrl+C and Ctrl+S as plain keys; output untouched.
    struct termios raw = terminal->saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(terminal->fd, TCSANOW, &raw);
    return 1;
}

void leave_raw_terminal(raw_terminal* terminal)
{
    tcsetattr(terminal->fd, TCSANOW, &terminal->saved);
    close(terminal->fd);
    if (terminal->signals >= 0) close(terminal->signals);
    sigprocmask(SIG_SETMASK, &terminal->saved_mask, nullptr);
}

// Ends the process by the signal that arrived while the terminal was raw, after restoring it.
[[noreturn]] void die_by_signal(raw_terminal* terminal, int number)
{
    leave_raw_terminal(terminal);
    fflush(stdout);
    signal(number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    raise(number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + number);
}

// One byte from the terminal: the byte, -1 at end of input or on error, -2 when wait_ms passed.
int read_terminal_byte(raw_terminal* terminal, int wait_ms)
{
    for (;;) {
        struct pollfd watched[2] = {{terminal->fd, POLLIN, 0}, {terminal->signals, POLLIN, 0}};
        int ready = poll(watched, terminal->signals >= 0 ? 2 : 1, wait_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if (ready == 0) return -2;
        if (terminal->signals >= 0 && (watched[1].revents & POLLIN)) {
            struct signalfd_siginfo info;
            if (read(terminal->signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                die_by_signal(terminal, static_cast<int>(info.ssi_signo));
        }
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            unsigned char byte;
            ssize_t got = read(terminal->fd, &byte, 1);
            if (got == 1) return byte;
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return -1;
        }
    }
}

// The two codes a console gives for the key named by the final byte of a CSI or SS3 sequence and
// its first number (0 when none): a prefix, 0 or 0xE0, in first, the key's code in second.
void map_escape_sequence(int final_byte, int number, int* first, int* second)
{
    struct key_code {
        int prefix;
        int code;
    };
    key_code key = {0xE0, 0};
    switch (final_byte) {
    case 'A': key = {0xE0, 72}; break;  // up
    case 'B': key = {0xE0, 80}; break;  // down
    case 'C': key = {0xE0, 77}; break;  // right
    case 'D': key = {0xE0, 75}; break;  // left
    case 'H': key = {0xE0, 71}; break;  // home
    case 'F': key = {0xE0, 79}; break;  // end
    case 'E': key = {0, 76}; break;     // keypad centre
    case 'Z': key = {0, 15}; break;     // shift+tab
    case 'P': key = {0, 59}; break;     // F1 to F4 as SS3 P to S
    case 'Q': key = {0, 60}; break;
    case 'R': key = {0, 61}; break;
    case 'S': key = {0, 62}; break;
    case '~':
        if (number == 1 || number == 7) key = {0xE0, 71};
        else if (number == 2) key = {0xE0, 82};
        else if (number == 3) key = {0xE0, 83};
        else if (number == 4 || number == 8) key = {0xE0, 79};
        else if (number == 5) key = {0xE0, 73};
        else if (number == 6) key = {0xE0, 81};
        else if (number >= 11 && number <= 15) key = {0, 59 + number - 11};
        else if (number >= 17 && number <= 21) key = {0, 64 + number - 17};
        else if (number == 23) key = {0xE0, 133};
        else if (number == 24) key = {0xE0, 134};
        break;
    default: break;
    }
    *first = key.prefix;
    *second = key.code;
}

// Reads the rest of an escape sequence whose ESC has been read into codes, returning how many: a
// lone ESC is the code 27, ESC and a plain key (Alt held) are 27 and the key, and a function or
// cursor key is its two console codes.
int read_escape_sequence(raw_terminal* terminal, int codes[2])
{
    codes[0] = 27;
    int introducer = read_terminal_byte(terminal, ESCAPE_SEQUENCE_WAIT_MS);
    if (introducer < 0) return 1;
    if (introducer != '[' && introducer != 'O') {
        codes[1] = introducer;
        return 2;
    }

    // CSI: numbers and separators up to a final byte; SS3: one final byte. The Linux console's
    // F1 to F5 come as ESC [ [ A to E.
    int number = 0;
    int numbers_seen = 0;
    int final_byte = 0;
    int first_byte = 1;
    for (;;) {
        int byte = read_terminal_byte(terminal, ESCAPE_SEQUENCE_WAIT_MS);
        if (byte < 0) break;
        if (introducer == '[' && first_byte && byte == '[') {
            int key = read_terminal_byte(terminal, ESCAPE_SEQUENCE_WAIT_MS);
            if (key >= 'A' && key <= 'E') {
                final_byte = '~';
                number = 11 + key - 'A';
            }
            break;
        }
        first_byte = 0;
        if (introducer == 'O' || (byte >= 0x40 && byte <= 0x7E)) {
            final_byte = byte;
            break;
        }
        if (byte >= '0' && byte <= '9' && numbers_seen == 0 && number < 1000)
            number = number * 10 + (byte - '0');
        else if (byte == ';')
            numbers_seen = 1;
    }
    map_escape_sequence(final_byte, number, &codes[0], &codes[1]);
    return 2;
}



}  // namespace

int console_read_key_among(const char* accepted)
{
    raw_terminal terminal;
    if (!enter_raw_terminal(&terminal)) return CONSOLE_END_OF_INPUT;
    int found = CONSOLE_END_OF_INPUT;
    for (;;) {
        int codes[2] = {read_terminal_byte(&terminal, -1), 0};
        if (codes[0] < 0) break;
        int count = codes[0] == 0x1B ? read_escape_sequence(&terminal, codes) : 1;
        found = console_accepted_code(accepted, codes, count);
        if (found >= 0) break;
    }
    leave_raw_terminal(&terminal);
    return found;
}
