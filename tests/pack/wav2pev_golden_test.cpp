// Runs the built Wav2pev as a process on prepared WAV files, the way the
// Pev2wav golden cases run Pev2wav (see support/golden.hpp), for what only a
// real process shows: a write the file system refuses, the command line as
// a shell passes it. Golden files: tests/pack/golden/<case>/.
//
// PEV_TEST_WAV2PEV   the executable under test (default: the one just built)

#include "support/archive_builder.hpp"
#include "support/golden.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/wav_builder.hpp"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <regex>

namespace pev::test {
namespace {

namespace fs = std::filesystem;

struct GoldenCase {
    std::string name;
    std::vector<std::string> args;
    std::function<void(const TempDir&)> setup;
    unsigned long file_size_limit_kb = 0;
};

// Named by the case, so test names stay the same from build to build.
void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

void put_noise(const TempDir& dir, const std::string& name, std::size_t count, unsigned seed) {
    write_file(dir.file(name), wav_file_bytes(noise(count, seed), 8000));
}

std::vector<GoldenCase> golden_cases() {
    return {
        // Noise packs into raw blocks: the first clip alone overflows the
        // output's buffer (64 KiB) and meets the 1 KiB limit while it is
        // written.
        {"write_fails_midway",
         {"B", "big.wav"},
         [](const TempDir& dir) { put_noise(dir, "big.wav", 80000, 1); },
         1},
        // Both clips fit in the stream's buffer: the limit is met only when
        // the header and the table are written at the end.
        {"write_fails_at_the_end",
         {"B", "a.wav", "b.wav"},
         [](const TempDir& dir) {
             put_noise(dir, "a.wav", 600, 2);
             put_noise(dir, "b.wav", 600, 3);
         },
         1},
        {"like_equals_form",
         {"--like=old.pev", "B", "a.wav", "b.wav"},
         [](const TempDir& dir) {
             TestArchive old;
             old.unread_fill = 0x5A;
             old.entries = {delta_entry(300, {0x21}), delta_entry(17, {0x21})};
             write_file(dir.file("old.pev"), build_archive(old));
             put_noise(dir, "a.wav", 100, 4);
             put_noise(dir, "b.wav", 100, 5);
         }},
    };
}

std::string program_under_test() {
    const char* chosen = std::getenv("PEV_TEST_WAV2PEV");
    return chosen != nullptr ? chosen : PEV_BINARY_DIR "/Wav2pev";
}

// The temporary archive's name has a random part.
std::string without_random_part(const std::string& text) {
    return std::regex_replace(text, std::regex(R"(\.[0-9a-f]{8}\.tmp)"), ".*.tmp");
}

class Wav2pevGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Wav2pevGolden, OutputMatches) {
    const GoldenCase& golden = GetParam();
    if (golden.file_size_limit_kb != 0 && runs_through_emulator()) {
        GTEST_SKIP() << "a file-size limit needs a plain native run";
    }
    const TempDir dir;
    golden.setup(dir);
    const auto inputs = list_regular_files(dir.path());
    const ProcessResult result = run_process(program_under_test(), golden.args, dir.path().string(),
                                             0, golden.file_size_limit_kb);

    const fs::path expected = fs::path(PEV_SOURCE_DIR) / "tests/pack/golden" / golden.name;
    check_golden(expected, "stdout", without_carriage_returns(result.out));
    check_golden(expected, "stderr", without_random_part(without_carriage_returns(result.err)));
    check_golden(expected, "status", std::to_string(result.status) + "\n");
    check_golden_outputs(expected, dir.path(), inputs);
}

INSTANTIATE_TEST_SUITE_P(Wav2pev, Wav2pevGolden, ::testing::ValuesIn(golden_cases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace pev::test
