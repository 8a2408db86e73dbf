#pragma once
// Golden cases of a program that reads archives: each runs the built program
// as a process in a scratch folder prepared for it, and golden.hpp's checks
// compare what it printed, its exit status and the files it left behind with
// <golden root>/<case>/.
//
// PEV_TEST_RUNNER    a command prefix such as an emulator (see process.hpp)

#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pev::test {

// Whether a case needs a pev that reads and writes sound files other than
// WAV (libsndfile and libsoxr), or one without (as the cross builds are),
// where the two say different things.
enum class SoundSupport { any, with, without };
// The same for loudness (libebur128).
enum class LoudnessSupport { any, with, without };

struct GoldenCase {
    std::string name;
    std::vector<std::string> args;
    std::function<void(const TempDir&)> setup;
    unsigned long memory_limit_kb = 0; // caps the process's address space
    // Standard output is binary (a WAV file): it is pinned by its size and
    // checksum, and kept as written whatever the host's line ends.
    bool binary_stdout = false;
    unsigned long file_size_limit_kb = 0; // caps every file it writes, as a full disk would
    // Checks what the golden files cannot: inputs left as they were.
    std::function<void(const TempDir&)> after = nullptr;
    // A file of the case's folder to give as standard input (default: none).
    std::string stdin_file = "/dev/null";
    // Needs the host's own files: Wine shows no link that leads nowhere.
    bool native_only = false;
    SoundSupport sound = SoundSupport::any;
    LoudnessSupport loudness = LoudnessSupport::any;
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

// Writes `archive` as `name` in the case's folder.
void put(const TempDir& dir, const std::string& name, const TestArchive& archive);

// Runs `program` on the case and compares the outcome with
// `golden_root`/<case name>/ (or rewrites it, under PEV_UPDATE_GOLDEN=1).
void run_golden_case(const GoldenCase& golden, const std::string& program,
                     const std::filesystem::path& golden_root);

} // namespace pev::test
