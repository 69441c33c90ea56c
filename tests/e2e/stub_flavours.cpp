// Flavours of stub for the end-to-end suite.
#include "tests/e2e/stub_flavours.h"

#include <cstdlib>
#include <stdexcept>

#include <unistd.h>

namespace tarnfix_test {

bool windows_programs(std::string* folder, std::string* wine)
{
    const char* windows_bin = getenv("TARNFIX_WINDOWS_BIN_DIR");
    const char* wine_path = getenv("TARNFIX_WINE");
    if (!windows_bin || !*windows_bin) return false;
    *folder = windows_bin;
    *wine = wine_path && *wine_path ? wine_path : "/usr/bin/wine";
    if (access((*folder + "/tarnfix-stub.exe").c_str(), R_OK) != 0 || access(wine->c_str(), X_OK) != 0) return false;
    setenv("WINEDEBUG", "-all", 0);
    return true;
}

std::vector<stub_flavour> stub_flavours()
{
    std::vector<stub_flavour> flavours = {{"Linux", stub_path(), "hack", "./hack", "./hack", "/", "nosuch", false}};
    std::string folder;
    std::string wine;
    if (windows_programs(&folder, &wine))
        flavours.push_back({"Wine", folder + "/tarnfix-stub.exe", "hack.exe", "hack.exe", "hack", "\\", "hack", true});
    return flavours;
}

run_result run_stub(const stub_flavour& flavour, const std::string& folder,
                    const std::vector<std::string>& args, run_options options)
{
    if (options.cwd.empty()) options.cwd = folder;
    if (!flavour.wine) {
        if (options.argv0.empty()) options.argv0 = flavour.invoked;
        return run_program(folder + "/" + flavour.file_name, args, options);
    }
    std::string windows_bin;
    std::string wine;
    windows_programs(&windows_bin, &wine);
    std::vector<std::string> words = {"cmd", "/c", options.argv0.empty() ? flavour.invoked : options.argv0};
    words.insert(words.end(), args.begin(), args.end());
    options.argv0.clear();
    return run_program(wine, words, options);
}

void make_self_patching_file(const stub_flavour& flavour, const std::string& folder,
                             const bytes& patch, const std::string& comment, bool force)
{
    write_file(folder + "/patch.ips", patch);
    std::vector<std::string> args = {"make", "--stub", flavour.bare_stub, "--comment", comment,
                                     "-o", folder + "/" + flavour.file_name};
    if (force) args.push_back("--force");
    args.push_back(folder + "/patch.ips");
    run_result made = run_program(builder_path(), args);
    unlink((folder + "/patch.ips").c_str());
    if (made.exit_code != 0) throw std::runtime_error("tarnfix make failed: " + made.err);
}

}  // namespace tarnfix_test
