// The stubs the end-to-end suite runs: this platform's, and the Windows one under Wine when the
// Windows build is there. Each run starts a self-patching file from its own folder by a relative
// name, so transcripts are the same wherever the folder is.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace tarnfix_test {

struct stub_flavour {
    std::string label;      // names the flavour in test names
    std::string bare_stub;  // the stub the builder starts from
    std::string file_name;  // the self-patching file made in the test's folder
    std::string invoked;    // argv[0] as the stub sees it
    std::string stem;       // what the outputs are named after
    std::string separator;  // of folders in the names the stub is given
    std::string unloadable; // an argv[0] that names no file: the stub cannot read its patch
    bool wine;
};

std::vector<stub_flavour> stub_flavours();

// Test parameters print as their label.
inline void PrintTo(const stub_flavour& flavour, std::ostream* stream) { *stream << flavour.label; }

// The Windows programs' folder and the Wine to run them with, when the suite has them; set through
// TARNFIX_WINDOWS_BIN_DIR and TARNFIX_WINE.
bool windows_programs(std::string* folder, std::string* wine);

// Runs the self-patching file of flavour in folder with args, without a terminal, from options.cwd
// when that is set. Under Wine the
// stub is started by cmd, so that argv[0] is the name as typed, as from a player's shell.
run_result run_stub(const stub_flavour& flavour, const std::string& folder,
                    const std::vector<std::string>& args, run_options options = {});

// Makes folder/flavour.file_name from patch with the builder; --force lets any bytes in.
void make_self_patching_file(const stub_flavour& flavour, const std::string& folder,
                             const bytes& patch, const std::string& comment, bool force = false);

}  // namespace tarnfix_test
