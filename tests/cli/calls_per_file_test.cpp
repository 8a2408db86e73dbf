// System calls per file written, counted in real runs: a fresh name costs a
// look, the unnamed file's open, its write, its link and its close; a name
// already taken at most two calls more (the writability check and the
// rename), not the attempts a run has learnt to spare. Counted as the
// difference between runs of N and 2N clips, so start-up cancels out.

#include "support/archive_builder.hpp"
#include "support/golden_runner.hpp"
#include "support/process.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace pev::test {
namespace {

// Every call a written file may take; reading the archive, the decoding
// thread's hand-over and memory are left out.
constexpr const char* kWriteSide =
    "newfstatat,statx,stat,lstat,access,faccessat,faccessat2,open,openat,creat,write,pwrite64,"
    "writev,close,link,linkat,rename,renameat,renameat2,unlink,unlinkat,rt_sigprocmask,fsync,"
    "fdatasync,fstat,lseek,ftruncate,fallocate,getrandom";

TestArchive archive_of(std::size_t clips) {
    TestArchive archive;
    for (std::size_t i = 0; i < clips; ++i) {
        archive.entries.push_back(raw_ramp_entry(static_cast<std::uint16_t>(i + 1)));
    }
    return archive;
}

// The calls strace -c counted in all.
long total_calls(const std::string& summary_path) {
    std::ifstream summary(summary_path);
    for (std::string line; std::getline(summary, line);) {
        if (line.find("total") != std::string::npos) {
            std::istringstream fields(line);
            std::string percent, seconds, usecs, calls;
            // "100.00 0.000544 3 138 8 total": calls is the fourth field.
            fields >> percent >> seconds >> usecs >> calls;
            return std::stol(calls);
        }
    }
    return -1;
}

struct CallCase {
    const char* name;
    const char* command; // run in the folder holding a.pev
    bool replacing;      // the files are there from a run before
    double most_per_file;
};

const CallCase kCases[] = {
    {"pev2wav_fresh", PEV_BINARY_DIR "/Pev2wav a", false, 5},
    {"pev2wav_replacing", PEV_BINARY_DIR "/Pev2wav a", true, 7},
    {"extract_fresh", PEV_BINARY_DIR "/pev extract -q a.pev", false, 5},
    {"extract_forced", PEV_BINARY_DIR "/pev extract -q --force a.pev", true, 7},
};

void PrintTo(const CallCase& c, std::ostream* out) {
    *out << c.name;
}

class CallsPerFile : public ::testing::TestWithParam<CallCase> {};

TEST_P(CallsPerFile, StayWithinTheirCount) {
    const CallCase& c = GetParam();
    if (runs_through_emulator() || !strace_available()) {
        GTEST_SKIP() << "needs a native build and strace";
    }
    constexpr std::size_t kClips = 20;
    long totals[2] = {};
    for (const std::size_t clips : {kClips, 2 * kClips}) {
        const TempDir dir;
        put(dir, "a.pev", archive_of(clips));
        const std::string in_dir = "cd '" + dir.path().string() + "' && ";
        if (c.replacing) {
            ASSERT_EQ(std::system((in_dir + c.command + " >/dev/null").c_str()), 0);
        }
        // The leak checker cannot work under strace.
        const std::string traced =
            in_dir +
            "ASAN_OPTIONS=detect_leaks=0 strace -f -c -o calls.txt -e trace=" + kWriteSide + " " +
            c.command + " >/dev/null";
        ASSERT_EQ(std::system(traced.c_str()), 0);
        totals[clips == kClips ? 0 : 1] = total_calls(dir.file("calls.txt"));
    }
    const double per_file = static_cast<double>(totals[1] - totals[0]) / kClips;
    // A line of standard output now and then may add a write.
    EXPECT_LE(per_file, c.most_per_file + 0.2) << totals[0] << " and " << totals[1];
}

INSTANTIATE_TEST_SUITE_P(Runs, CallsPerFile, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pev::test
