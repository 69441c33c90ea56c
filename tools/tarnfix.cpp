// tarnfix: makes self-patching files from an IPS patch, and inspects and unpacks them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/ips_scan.h"
#include "tools/self_patching_file.h"

namespace {

const char* const USAGE =
    "Usage: tarnfix make [--stub STUB] [--comment TEXT] [--force] -o OUTPUT PATCH\n"
    "       tarnfix info FILE\n"
    "       tarnfix extract FILE -o PATCH\n"
    "       tarnfix --help | --version\n";

const char* const HELP =
    "\n"
    "Turns an IPS patch into a self-patching file: a small program that a player runs with\n"
    "the file to patch as its argument. It copies that file beside itself under its own\n"
    "name with the file's extension, patches the copy, and never touches the original.\n"
    "\n"
    "Commands:\n"
    "  make     write OUTPUT: the stub with PATCH and the comment inside, made executable.\n"
    "           --stub STUB     the stub to use (default: tarnfix-stub beside tarnfix); a\n"
    "                           self-patching file works too, its comment and patch replaced\n"
    "           --comment TEXT  shown to the player after the banner (67 bytes at most,\n"
    "                           each '%' counting twice)\n"
    "           --force         embed PATCH even when a stub would refuse it\n"
    "  info     show a self-patching file's comment and what its patch does\n"
    "  extract  write the patch a self-patching file carries to PATCH\n";

int report(const std::string& file, const std::string& reason)
{
    fprintf(stderr, "tarnfix: %s: %s\n", file.c_str(), reason.c_str());
    return 1;
}

// Reads a whole regular file; null or the reason it could not.
const char* read_file(const std::string& path, bytes* contents)
{
    if (!platform_is_regular_file(path.c_str())) return "not found or not a regular file";
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return "cannot be opened for reading";
    contents->clear();
    char chunk[1 << 16];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) contents->insert(contents->end(), chunk, chunk + got);
    bool failed = ferror(file) != 0;
    fclose(file);
    return failed ? "read error" : nullptr;
}

// Writes contents to path through a temporary file beside it, so that path is either the old file
// or the whole new one; null or the reason it failed.
const char* write_file(const std::string& path, const bytes& contents, bool executable)
{
    const std::string temporary = path + ".tarnfix-part";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file) return "cannot be created";
    bool ok = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    ok = fclose(file) == 0 && ok;
    if (ok && executable) ok = platform_make_executable(temporary.c_str()) != 0;
    if (ok) ok = platform_replace_file(temporary.c_str(), path.c_str()) != 0;
    if (!ok) {
        platform_delete_file(temporary.c_str());
        return "write failed";
    }
    return nullptr;
}

std::string default_stub_path()
{
    char own[4096];
    if (!platform_own_executable_path(own, sizeof own)) return std::string("tarnfix-stub") + platform_executable_suffix();
    std::string path(own);
    size_t cut = path.find_last_of(platform_path_separators());
    std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return folder + "tarnfix-stub" + platform_executable_suffix();
}

// Reads a stub or self-patching file and finds its layout; an error was reported when false.
bool load_image(const std::string& path, bytes* file, stub_layout* layout)
{
    const char* problem = read_file(path, file);
    if (!problem) problem = find_stub_layout(*file, layout);
    if (problem) report(path, problem);
    return problem == nullptr;
}

std::string describe_problem(const ips_summary& summary)
{
    return std::string(summary.problem) + " at byte " + std::to_string(summary.problem_position);
}

// Options of one command: the flags it allows are checked by the command.
struct command_line {
    std::string output;
    std::string stub;
    std::string comment;
    bool force = false;
    bool has_output = false, has_stub = false, has_comment = false;
    std::vector<std::string> operands;
};

// Splits the words after the command into options and operands; an error was reported when false.
bool parse_options(int argc, char** argv, int first, command_line* line)
{
    bool options_end = false;
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        if (options_end || word.empty() || word[0] != '-' || word == "-") {
            line->operands.push_back(word);
            continue;
        }
        if (word == "--") {
            options_end = true;
            continue;
        }
        if (word == "--force") {
            line->force = true;
            continue;
        }
        std::string name = word;
        std::string value;
        bool has_value = false;
        size_t equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
            has_value = true;
        }
        std::string* target = nullptr;
        bool* seen = nullptr;
        if (name == "-o" || name == "--output") target = &line->output, seen = &line->has_output;
        else if (name == "--stub") target = &line->stub, seen = &line->has_stub;
        else if (name == "--comment") target = &line->comment, seen = &line->has_comment;
        if (!target) {
            fprintf(stderr, "tarnfix: unknown option %s\n%s", word.c_str(), USAGE);
            return false;
        }
        if (!has_value) {
            if (i + 1 >= argc) {
                fprintf(stderr, "tarnfix: %s needs a value\n%s", name.c_str(), USAGE);
                return false;
            }
            value = argv[++i];
        }
        *target = value;
        *seen = true;
    }
    return true;
}

int usage_error(const char* what)
{
    fprintf(stderr, "tarnfix: %s\n%s", what, USAGE);
    return 2;
}

int make_command(const command_line& line)
{
    if (line.operands.size() != 1 || !line.has_output) return usage_error("make takes one PATCH and -o OUTPUT");
    const std::string& patch_path = line.operands[0];

    std::string encoded;
    if (!encode_comment(line.comment, &encoded))
        return report("--comment", "the comment is " + std::to_string(encoded.size()) +
                                       " bytes with each '%' doubled; the slot holds " +
                                       std::to_string(COMMENT_SLOT_SIZE - 1) +
                                       " bytes and a terminator");

    bytes patch;
    if (const char* problem = read_file(patch_path, &patch)) return report(patch_path, problem);
    if (patch.size() > UINT32_MAX) return report(patch_path, "larger than 4 GiB, which a stub cannot carry");
    ips_summary summary;
    if (!scan_ips_patch(patch.data(), patch.size(), &summary) && !line.force)
        return report(patch_path, "a stub would refuse this patch: " + describe_problem(summary) +
                                      " (--force embeds it as it is)");
    if (summary.complete && summary.bytes_after_end > 0)
        fprintf(stderr, "tarnfix: %s: warning: %zu bytes after the end marker are ignored\n",
                patch_path.c_str(), summary.bytes_after_end);

    const std::string stub_path = line.has_stub ? line.stub : default_stub_path();
    bytes stub_file;
    stub_layout layout;
    if (!load_image(stub_path, &stub_file, &layout)) return 1;

    bytes image = build_self_patching_file(stub_file, layout, encoded, patch);
    if (const char* problem = check_built_file(image, layout, patch)) return report(stub_path, problem);
    if (const char* problem = write_file(line.output, image, true)) return report(line.output, problem);
    return 0;
}

int info_command(const command_line& line)
{
    if (line.operands.size() != 1 || line.has_output || line.has_stub || line.has_comment || line.force)
        return usage_error("info takes one FILE");
    const std::string& path = line.operands[0];
    bytes file;
    stub_layout layout;
    if (!load_image(path, &file, &layout)) return 1;
    bytes patch;
    if (const char* problem = carried_patch(file, layout, &patch)) return report(path, problem);

    ips_summary summary;
    scan_ips_patch(patch.data(), patch.size(), &summary);
    printf("comment: %s\n", decode_comment(file, layout).c_str());
    printf("patch size: %zu bytes\n", patch.size());
    printf("data records: %u\n", summary.data_records);
    printf("run records: %u\n", summary.run_records);
    if (summary.writes_anything)
        printf("highest offset written: 0x%06X\n", summary.highest_offset);
    else
        printf("highest offset written: none\n");
    if (summary.complete)
        printf("complete: yes\n");
    else
        printf("complete: no (%s)\n", describe_problem(summary).c_str());
    if (summary.complete && summary.bytes_after_end > 0)
        printf("bytes after the end marker: %zu (ignored)\n", summary.bytes_after_end);
    return 0;
}

int extract_command(const command_line& line)
{
    if (line.operands.size() != 1 || !line.has_output || line.has_stub || line.has_comment || line.force)
        return usage_error("extract takes one FILE and -o PATCH");
    const std::string& path = line.operands[0];
    bytes file;
    stub_layout layout;
    if (!load_image(path, &file, &layout)) return 1;
    bytes patch;
    if (const char* problem = carried_patch(file, layout, &patch)) return report(path, problem);
    if (const char* problem = write_file(line.output, patch, false)) return report(line.output, problem);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs(USAGE, stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        printf("%s%s", USAGE, HELP);
        return 0;
    }
    if (command == "--version") {
        printf("tarnfix %s\n", TARNFIX_VERSION);
        return 0;
    }
    command_line line;
    if (command == "make" || command == "info" || command == "extract") {
        if (!parse_options(argc, argv, 2, &line)) return 2;
        if (command == "make") return make_command(line);
        if (command == "info") return info_command(line);
        return extract_command(line);
    }
    fprintf(stderr, "tarnfix: unknown command %s\n%s", command.c_str(), USAGE);
    return 2;
}
