// Real runs of pev and Wav2pev in which the system refuses one call, or
// standard output cannot be written: each must fail with its message, not
// report success. These are the faults no golden case can cause: a name
// taken while the program runs, a disk that fills up, a full device.

#include "support/archive_builder.hpp"
#include "support/golden_runner.hpp"
#include "support/process.hpp"
#include "support/sample_archives.hpp"
#include "support/sync_order.hpp"
#include "support/temp_dir.hpp"
#include "support/wav_builder.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace pev::test {
namespace {

namespace fs = std::filesystem;

std::string text_of(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = read_file(path.string());
    return {bytes.begin(), bytes.end()};
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The leak checker cannot work under strace.
constexpr const char* kUnderStrace = "ASAN_OPTIONS=detect_leaks=0 strace -f ";

// The name a no-replace commit links or renames to is refused as taken, as
// when another program creates it meanwhile.
constexpr const char* kNameTaken = "linkat,renameat2:error=EEXIST:when=1";

struct FaultCase {
    const char* name;
    const char* program; // "pev" or "Wav2pev", in the build folder
    const char* args;
    const char* inject; // strace's inject= argument (and more), or nullptr
    const char* stdout_to;
    const char* message; // told exactly once on standard error
    const char* absent;  // a file the run must not leave
};

const FaultCase kCases[] = {
    {"extract_name_taken_meanwhile", "pev", "extract B", kNameTaken, "/dev/null",
     "pev: B_0001.wav: it appeared while extracting; use --force to replace it", "B_0001.wav"},
    {"pack_name_taken_meanwhile", "pev", "pack P a.wav", kNameTaken, "/dev/null",
     "P.pev: already exists", "P.pev"},
    {"wav2pev_name_taken_meanwhile", "Wav2pev", "W", kNameTaken, "/dev/null",
     "W.pev: already exists", "W.pev"},
    {"extract_disk_full", "pev", "extract B", "pwrite64:error=ENOSPC:when=1", "/dev/null",
     "cannot write into .: No space left on device", "B_0001.wav"},
    {"cat_to_full_device", "pev", "cat B 1", nullptr, "/dev/full",
     "pev: cannot write to standard output", nullptr},
    {"list_to_full_device", "pev", "list B", nullptr, "/dev/full",
     "pev: cannot write to standard output", nullptr},
    // WAV inputs with no size to read them by: refused at once, whether or
    // not anything writes to the pipe.
    {"pack_named_pipe", "pev", "pack P fifo.wav", nullptr, "/dev/null",
     "pev: fifo.wav: cannot read it: it is not a seekable file", "P.pev"},
    {"wav2pev_device", "Wav2pev", "W /dev/zero", nullptr, "/dev/null",
     "Wav2pev: /dev/zero: cannot read it: it is not a seekable file", "W.pev"},
    // A file cut short while it is read: read(2) finds its end early.
    {"wav2pev_input_cut_while_read", "Wav2pev", "W a.wav", "read:retval=0 -P a.wav", "/dev/null",
     "Wav2pev: a.wav: cannot read it: Input/output error", "W.pev"},
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

class RealRunFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(RealRunFault, FailsAndSaysSo) {
    const FaultCase& c = GetParam();
    if (runs_through_emulator() || (c.inject != nullptr && !strace_available())) {
        GTEST_SKIP() << "needs a native build and strace";
    }
    const TempDir dir;
    put(dir, "B.pev", three_clip_archive());
    write_file(dir.file("a.wav"), wav_file_bytes(noise(900, 9), 22050));
    write_file(dir.file("W_0001.wav"), wav_file_bytes(noise(900, 9), 22050));
    ASSERT_EQ(mkfifo(dir.file("fifo.wav").c_str(), 0600), 0);
    const std::string tracer = c.inject == nullptr ? ""
                                                   : std::string(kUnderStrace) +
                                                         "-o /dev/null -e inject=" + c.inject + " ";
    // A run that hangs fails in half a minute.
    const std::string command = "cd '" + dir.path().string() + "' && timeout 30 env " + tracer +
                                PEV_BINARY_DIR "/" + c.program + " " + c.args + " </dev/null >" +
                                c.stdout_to + " 2>stderr.txt";
    const int status = std::system(command.c_str());
    const std::string err = text_of(dir.path() / "stderr.txt");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << "\n" << err;
    EXPECT_EQ(occurrences(err, c.message), 1u) << err;
    if (c.absent != nullptr) {
        EXPECT_FALSE(fs::exists(dir.path() / c.absent));
    }
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Pev, RealRunFault, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each archive a run writes is on disk before it takes any name, and its
// folder after it took its final one: a crash leaves the old archive or the
// new one, never a name on a file whose bytes were lost.
TEST(RealRun, SyncsEachArchiveBeforeItsNameAndItsFolderAfter) {
    if (runs_through_emulator() || !strace_available()) {
        GTEST_SKIP() << "needs a native build and strace";
    }
    const char* const commands[] = {
        "pev pack P a.wav",           "pev pack --force B a.wav", "Wav2pev W",
        "pev replace B 1=a.wav", // in place
        "pev replace B 1=a.wav -o R",
    };
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        const TempDir dir;
        put(dir, "B.pev", three_clip_archive());
        write_file(dir.file("a.wav"), wav_file_bytes(noise(900, 9), 22050));
        write_file(dir.file("W_0001.wav"), wav_file_bytes(noise(900, 9), 22050));
        const std::string traced = "cd '" + dir.path().string() + "' && " + kUnderStrace +
                                   "-o trace.txt -e trace=" + kSyncTraceCalls + " " +
                                   PEV_BINARY_DIR "/" + command + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(traced.c_str()), 0);
        const SyncOrder order = sync_order(text_of(dir.path() / "trace.txt"));
        EXPECT_EQ(order.placed, 1);
        EXPECT_EQ(order.problem, "");
    }
}

// Every file a run opens in its folder, the WAV files it packs included, is
// opened close-on-exec, so that no program started meanwhile inherits it.
TEST(RealRun, OpensItsFilesCloseOnExec) {
    if (runs_through_emulator() || !strace_available()) {
        GTEST_SKIP() << "needs a native build and strace";
    }
    const TempDir dir;
    write_file(dir.file("a.wav"), wav_file_bytes(noise(900, 9), 22050));
    write_file(dir.file("b.wav"), wav_file_bytes(noise(1900, 7), 22050));
    const std::string command = "cd '" + dir.path().string() + "' && " + kUnderStrace +
                                "-o trace.txt -e trace=openat " PEV_BINARY_DIR
                                "/pev pack P a.wav b.wav >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::istringstream trace(text_of(dir.path() / "trace.txt"));
    std::size_t opens = 0;
    for (std::string line; std::getline(trace, line);) {
        const bool ours = line.find("\"a.wav\"") != std::string::npos ||
                          line.find("\"b.wav\"") != std::string::npos ||
                          line.find("\".\"") != std::string::npos ||
                          line.find(dir.path().string()) != std::string::npos;
        if (ours && line.find("openat(") != std::string::npos) {
            ++opens;
            EXPECT_NE(line.find("O_CLOEXEC"), std::string::npos) << line;
        }
    }
    EXPECT_GE(opens, 3u) << "the two WAV files and the archive";
}

} // namespace
} // namespace pev::test
