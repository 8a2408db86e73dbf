// An archive larger than what standard input may keep in memory (64 MiB),
// piped to pev: memory stays bounded whatever the archive's size, since the
// rest goes on into a temporary file, and every clip comes out as from the
// archive's file, those around the bound and at the very end too.

#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pev::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Two raw blocks of noise, different for each clip.
TestEntry noise_entry(std::uint16_t id) {
    TestEntry entry;
    entry.id = id;
    entry.block_sizes = {1024, 1024};
    std::mt19937 random(id);
    for (int i = 0; i < 2048; ++i) {
        entry.bytes.push_back(static_cast<std::uint8_t>(random()));
    }
    return entry;
}

// `size` bytes holding a clip at each of `offsets` and zeros between them.
Bytes spread_archive(const std::vector<std::uint32_t>& offsets, std::size_t size) {
    TestArchive archive;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        archive.entries.push_back(noise_entry(static_cast<std::uint16_t>(i + 1)));
        archive.entries.back().data_offset = offsets[i];
    }
    const Bytes packed = build_archive(archive);
    Bytes spread(size, 0);
    const std::size_t head = 32 + 8 * offsets.size();
    std::copy(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(head), spread.begin());
    const std::size_t each = 2 * 2 + 2048;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const auto from = packed.begin() + static_cast<std::ptrdiff_t>(head + i * each);
        std::copy(from, from + static_cast<std::ptrdiff_t>(each), spread.begin() + offsets[i]);
    }
    return spread;
}

// Runs pev with `args` in `folder`, `input` as its standard input; its exit
// status, and its peak resident memory in KiB.
std::pair<int, long> run_pev(const fs::path& folder, const std::vector<std::string>& args,
                             const std::string& input) {
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(input.c_str(), O_RDONLY);
        if (in < 0 || dup2(in, STDIN_FILENO) < 0 || chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        std::vector<char*> argv{const_cast<char*>("pev")};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(PEV_BINARY_DIR "/pev", argv.data());
        _exit(127);
    }
    int status = -1;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) {
        return {-1, 0};
    }
    return {WEXITSTATUS(status), usage.ru_maxrss};
}

TEST(StandardInput, LargeArchiveInBoundedMemoryClipByClip) {
    if (const char* runner = std::getenv("PEV_TEST_RUNNER"); runner != nullptr && *runner) {
        GTEST_SKIP() << "needs a native build";
    }
    const TempDir dir;
    // Clips at the start, in the first and the last of the 64 KiB pieces
    // standard input is read in around the bound, far past it and at the end
    // of a 136 MiB archive: more than twice what memory may hold.
    constexpr std::size_t kSize = 136 * kMiB;
    const std::vector<std::uint32_t> offsets = {1000, 64 * kMiB - 60000, 64 * kMiB + 1000,
                                                100 * kMiB + 3, kSize - 2052};
    write_file(dir.file("a.pev"), spread_archive(offsets, kSize));
    const auto [file_status, file_memory] =
        run_pev(dir.path(), {"extract", "-q", "a.pev", "-o", "from_file"}, "/dev/null");
    ASSERT_EQ(file_status, 0);
    const auto [status, memory] =
        run_pev(dir.path(), {"extract", "-q", "-", "-o", "from_input"}, dir.file("a.pev"));
    ASSERT_EQ(status, 0);
    for (std::size_t i = 1; i <= offsets.size(); ++i) {
        char a[32], stdin_name[32];
        std::snprintf(a, sizeof a, "a_%04zu.wav", i);
        std::snprintf(stdin_name, sizeof stdin_name, "stdin_%04zu.wav", i);
        EXPECT_EQ(read_file((dir.path() / "from_input" / stdin_name).string()),
                  read_file((dir.path() / "from_file" / a).string()))
            << "clip " << i;
    }
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer keeps freed memory: no figure to check";
#endif
    // 64 MiB of archive and what extracting takes, not the archive's 136.
    EXPECT_LT(memory, 96 * 1024) << "KiB at the peak";
}

} // namespace
} // namespace pev::test
