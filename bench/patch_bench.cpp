// Benchmark of a self-patching run against a plain copy of the same input.
//
// For each workload it writes an input and a patch (pseudo-random data from a fixed starting state,
// so every run sees the same bytes), makes a self-patching file with the builder, then alternates
// runs of the stub and of `cp --reflink=never` on the same input, and prints the median wall times,
// their ratio and the stub's peak resident memory. Each stub output is checked against the
// reference model before it counts.
//
// Usage: patch_bench BIN_DIR WORK_DIR [REPEATS] [WORKLOAD...]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/ips_model.h"

namespace {

using bytes = std::vector<uint8_t>;

constexpr uint64_t MIB = 1024 * 1024;
constexpr uint64_t BENCH_RANDOM_STATE = 0x7A2F1CE5D3B49081ull;
constexpr uint32_t END_MARKER_OFFSET = 0x454F46;

// xorshift64*: small, fast and the same everywhere.
struct random_bytes {
    uint64_t state = BENCH_RANDOM_STATE;
    uint64_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    uint32_t below(uint32_t bound) { return uint32_t(next() % bound); }
};

struct workload {
    const char* name;
    const char* what;
    uint64_t input_size;
    bytes patch;
    bool check_output;  // small enough to compare with the model in memory
};

void put_record_head(bytes& patch, uint32_t offset, uint32_t length)
{
    patch.insert(patch.end(), {uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset),
                               uint8_t(length >> 8), uint8_t(length)});
}

// An offset of a record that fits the 24-bit field and never reads as the end marker.
uint32_t record_offset(random_bytes& random, uint32_t limit)
{
    uint32_t offset;
    do offset = random.below(limit);
    while (offset == END_MARKER_OFFSET);
    return offset;
}

bytes small_records_patch(random_bytes& random, int count, uint32_t limit)
{
    bytes patch = {'P', 'A', 'T', 'C', 'H'};
    for (int i = 0; i < count; ++i) {
        uint32_t length = 1 + random.below(64);
        put_record_head(patch, record_offset(random, limit - length), length);
        for (uint32_t j = 0; j < length; ++j) patch.push_back(uint8_t(random.next()));
    }
    patch.insert(patch.end(), {'E', 'O', 'F'});
    return patch;
}

std::vector<workload> make_workloads()
{
    random_bytes random;
    std::vector<workload> all;
    const uint32_t ips_limit = 16 * MIB;

    all.push_back({"W1", "16 MiB, 20,000 data records of 1-64 bytes", 16 * MIB,
                   small_records_patch(random, 20000, ips_limit), true});

    bytes covering = {'P', 'A', 'T', 'C', 'H'};
    for (uint32_t i = 0; i < 256; ++i) {
        put_record_head(covering, i * 65535, 65535);
        for (uint32_t j = 0; j < 65535; ++j) covering.push_back(uint8_t(random.next()));
    }
    covering.insert(covering.end(), {'E', 'O', 'F'});
    all.push_back({"W2", "16 MiB, 256 data records of 65,535 bytes", 16 * MIB, covering, true});

    bytes runs = {'P', 'A', 'T', 'C', 'H'};
    for (int i = 0; i < 4000; ++i) {
        uint32_t count = 1 + random.below(65535);
        put_record_head(runs, record_offset(random, ips_limit - count), 0);
        runs.insert(runs.end(), {uint8_t(count >> 8), uint8_t(count), uint8_t(random.next())});
    }
    runs.insert(runs.end(), {'E', 'O', 'F'});
    all.push_back({"W3", "16 MiB, 4,000 run records of 1-65,535 bytes", 16 * MIB, runs, true});

    bytes two = {'P', 'A', 'T', 'C', 'H'};
    put_record_head(two, 0x100, 4);
    two.insert(two.end(), {1, 2, 3, 4});
    put_record_head(two, 0x7FFF00, 0);
    two.insert(two.end(), {0, 16, 0xAB});
    two.insert(two.end(), {'E', 'O', 'F'});
    all.push_back({"W4", "1 GiB, a patch of two small records", 1024 * MIB, two, false});

    random = random_bytes();
    all.push_back({"W5", "256 MiB, 20,000 data records of 1-64 bytes", 256 * MIB,
                   small_records_patch(random, 20000, ips_limit), false});
    return all;
}

void write_bytes(const std::string& path, const bytes& contents)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(contents.data()), std::streamsize(contents.size()));
}

bytes read_bytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The input, written in pieces so that a 1 GiB one never sits in memory whole.
void write_input(const std::string& path, uint64_t size)
{
    random_bytes random;
    random.state ^= size;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> chunk(MIB / 8);
    for (uint64_t done = 0; done < size; done += MIB) {
        for (auto& word : chunk) word = random.next();
        file.write(reinterpret_cast<const char*>(chunk.data()), std::streamsize(std::min<uint64_t>(MIB, size - done)));
    }
}

struct timed_run {
    double seconds;
    int status;
};

// Runs argv in folder in a session of its own, with no terminal and the output thrown away. It is
// spawned without copying this process's memory, so the peak it reports is the program's own.
timed_run run_timed(const std::vector<std::string>& words, const std::string& folder)
{
    std::vector<char*> argv;
    std::vector<std::string> copy = words;
    for (auto& word : copy) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    auto start = std::chrono::steady_clock::now();
    pid_t child = -1;
    if (posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ) != 0) return {0, -1};
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    int status = 0;
    waitpid(child, &status, 0);
    auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double>(end - start).count(), status};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: patch_bench BIN_DIR WORK_DIR [REPEATS] [WORKLOAD...]\n");
        return 2;
    }
    const std::string bin = argv[1];
    const std::string work = argv[2];
    const int repeats = argc > 3 ? std::max(1, atoi(argv[3])) : 7;
    std::vector<std::string> chosen(argv + std::min(argc, 4), argv + argc);
    mkdir(work.c_str(), 0755);

    printf("| workload | input | patch | stub median | cp median | ratio | stub peak RSS | patch + 32 MiB |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    int failures = 0;
    for (const workload& load : make_workloads()) {
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), load.name) == chosen.end()) continue;
        const std::string folder = work + "/" + load.name;
        mkdir(folder.c_str(), 0755);
        write_input(folder + "/input.bin", load.input_size);
        write_bytes(folder + "/patch.ips", load.patch);
        std::string make = bin + "/tarnfix make -o " + folder + "/hack " + folder + "/patch.ips";
        if (system(make.c_str()) != 0) return 1;

        // Warm the page cache for both, then alternate.
        std::vector<double> stub_times;
        std::vector<double> copy_times;
        long peak_kib = 0;
        const int runs = load.input_size > 64 * MIB ? std::max(3, repeats / 2) : repeats;
        for (int i = -1; i < runs; ++i) {
            unlink((folder + "/hack.bin").c_str());
            timed_run stub = run_timed({folder + "/hack", "input.bin"}, folder);
            unlink((folder + "/copy.bin").c_str());
            timed_run copy = run_timed({"/bin/cp", "--reflink=never", "input.bin", "copy.bin"}, folder);
            if (i < 0) continue;
            stub_times.push_back(stub.seconds);
            copy_times.push_back(copy.seconds);
        }

        // Peak memory from a separate run under /usr/bin/time, a small parent: the kernel here counts
        // a spawned child's peak from its parent's memory.
        unlink((folder + "/hack.bin").c_str());
        timed_run measured = run_timed({"/usr/bin/time", "-f", "%M", "-o", "peak.txt", folder + "/hack", "input.bin"}, folder);
        if (measured.status == 0) {
            std::ifstream peak(folder + "/peak.txt");
            peak >> peak_kib;
        }

        // The stub's last output must be what the model makes of the same patch.
        if (load.check_output) {
            auto expected = tarnfix_model::apply_model(load.patch, read_bytes(folder + "/input.bin"));
            if (read_bytes(folder + "/hack.bin") != expected.output) {
                fprintf(stderr, "%s: the stub's output differs from the model's\n", load.name);
                failures++;
            }
        }
        double stub_median = median(stub_times);
        double copy_median = median(copy_times);
        double limit_mib = double(load.patch.size()) / MIB + 32;
        printf("| %s: %s | %llu MiB | %.2f MiB | %.1f ms | %.1f ms | %.2f | %.1f MiB | %.1f MiB |\n",
               load.name, load.what, static_cast<unsigned long long>(load.input_size / MIB), double(load.patch.size()) / MIB,
               stub_median * 1000, copy_median * 1000, stub_median / copy_median, peak_kib / 1024.0, limit_mib);
        fflush(stdout);
        unlink((folder + "/hack.bin").c_str());
        unlink((folder + "/copy.bin").c_str());
        unlink((folder + "/input.bin").c_str());
    }
    return failures ? 1 : 0;
}
