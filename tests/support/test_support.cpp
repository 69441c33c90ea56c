// Test helpers on POSIX; the tests run on Linux even where the programs under test are Windows ones.
#include "tests/support/test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnfix_test {

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
    chmod(path, 0700);
    return remove(path);
}

std::string slurp_fd(int fd)
{
    std::string text;
    char chunk[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
    return text;
}

}  // namespace

temporary_folder::temporary_folder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnfix-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

temporary_folder::~temporary_folder()
{
    // Folders a test made unwritable must be opened up again to be emptied.
    chmod(path_.c_str(), 0700);
    nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_file(const std::string& path, const bytes& contents)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

void write_text(const std::string& path, const std::string& contents) { write_file(path, to_bytes(contents)); }

bytes read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    return bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool file_present(const std::string& path)
{
    struct stat path_stat;
    return lstat(path.c_str(), &path_stat) == 0;
}

bytes to_bytes(const std::string& text) { return bytes(text.begin(), text.end()); }

std::string crlf(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

ips_builder& ips_builder::data(uint32_t offset, const bytes& block)
{
    patch.insert(patch.end(), {uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset),
                               uint8_t(block.size() >> 8), uint8_t(block.size())});
    patch.insert(patch.end(), block.begin(), block.end());
    return *this;
}

ips_builder& ips_builder::run(uint32_t offset, uint16_t count, uint8_t value)
{
    patch.insert(patch.end(), {uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), 0, 0,
                               uint8_t(count >> 8), uint8_t(count), value});
    return *this;
}

ips_builder& ips_builder::raw(const bytes& more)
{
    patch.insert(patch.end(), more.begin(), more.end());
    return *this;
}

bytes ips_builder::end() const
{
    bytes finished = patch;
    finished.insert(finished.end(), {'E', 'O', 'F'});
    return finished;
}

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options)
{
    FILE* out_file = tmpfile();
    FILE* err_file = tmpfile();
    if (!out_file || !err_file) throw std::runtime_error("tmpfile failed");

    std::vector<std::string> words;
    words.push_back(options.argv0.empty() ? program : options.argv0);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        // A session of its own: no controlling terminal, so no key wait can block.
        setsid();
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, STDIN_FILENO);
        dup2(fileno(out_file), STDOUT_FILENO);
        dup2(fileno(err_file), STDERR_FILENO);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        if (options.as_nobody && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
        if (options.file_size_limit >= 0) {
            struct rlimit limit = {rlim_t(options.file_size_limit), rlim_t(options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }

    // Wait, with a deadline after which the run counts as hung.
    run_result result;
    int status = 0;
    time_t deadline = time(nullptr) + options.timeout_seconds;
    long waited_ms = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        const bool due = options.signal_when_present.empty() ? waited_ms >= options.signal_after_ms
                                                             : waited_ms >= 0 && file_present(options.signal_when_present);
        if (options.signal_number != 0 && due) {
            kill(child, options.signal_number);
            waited_ms = -1000000000L;
        }
        if (time(nullptr) > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.err = "(killed: timed out)\n";
            break;
        }
        usleep(options.signal_when_present.empty() ? 2000 : 200);
        waited_ms += 2;
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = slurp_fd(fileno(out_file));
    result.err += slurp_fd(fileno(err_file));
    fclose(out_file);
    fclose(err_file);
    return result;
}

std::string builder_path()
{
    const char* folder = getenv("TARNFIX_BIN_DIR");
    return std::string(folder && *folder ? folder : TARNFIX_BIN_DIR) + "/tarnfix";
}

std::string stub_path()
{
    const char* folder = getenv("TARNFIX_BIN_DIR");
    return std::string(folder && *folder ? folder : TARNFIX_BIN_DIR) + "/tarnfix-stub";
}

}  // namespace tarnfix_test
