// Helpers shared by the tests: temporary folders, files, IPS patches and runs of the real programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnfix_test {

using bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class temporary_folder {
public:
    temporary_folder();
    ~temporary_folder();
    temporary_folder(const temporary_folder&) = delete;
    temporary_folder& operator=(const temporary_folder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string& path, const bytes& contents);
void write_text(const std::string& path, const std::string& contents);
bytes read_file(const std::string& path);
bool file_present(const std::string& path);
bytes to_bytes(const std::string& text);
std::string crlf(const std::string& text);  // each "\n" as "\r\n", as the stub writes it

// IPS patches built up record by record.
struct ips_builder {
    bytes patch = to_bytes("PATCH");
    ips_builder& data(uint32_t offset, const bytes& block);
    ips_builder& run(uint32_t offset, uint16_t count, uint8_t value);
    ips_builder& raw(const bytes& more);
    bytes end() const;  // the patch with the end marker
};

// How to start a program.
struct run_options {
    std::string cwd;                  // folder to run in; empty for the current one
    std::string argv0;                // argv[0] when not the program's path
    long long file_size_limit = -1;   // RLIMIT_FSIZE for the run, in bytes
    int timeout_seconds = 60;
    int signal_number = 0;            // sent to the program signal_after_ms after its start, or
    int signal_after_ms = 0;          // as soon as signal_when_present exists, when that is set
    std::string signal_when_present;
    bool as_nobody = false;           // run as the unprivileged user when the tests run as root
};

struct run_result {
    int exit_code = -1;    // exit status, or -1 when ended by a signal
    int signal = 0;        // the signal that ended it
    std::string out;       // standard output, byte for byte
    std::string err;       // standard error
};

// Runs program with args in a new session, so it has no controlling terminal, with standard input
// from /dev/null and both outputs captured; kills it after the timeout.
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const run_options& options = {});

// Paths of the programs under test: set by the build, overridable through TARNFIX_BIN_DIR.
std::string builder_path();
std::string stub_path();

}  // namespace tarnfix_test
