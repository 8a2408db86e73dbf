// Decoding ahead may change the time and nothing else: every case runs on one
// thread and with decoding ahead forced, on clips long enough that both
// threads decode parts of them.

#include "archive/clip_file_name.hpp"
#include "cli/pev2wav_extract.hpp"
#include "extraction/clip_stream.hpp"
#include "support/archive_builder.hpp"
#include "support/captured_stream.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <ostream>
#include <regex>
#include <stdexcept>
#include <thread>

namespace pev::test {
namespace {

constexpr int kClips = 32;
constexpr std::uint64_t kSizeTable = 80, kClipBytes = kSizeTable + 19240, kFirstClip = 288;

// Ten runs of a delta, a silent, a raw and a delta block per clip; the clip
// at `refused` (0-based) has a malformed last size.
std::vector<std::uint8_t> many_clips(int refused = -1) {
    TestArchive archive;
    for (int i = 0; i < kClips; ++i) {
        TestEntry& entry = archive.entries.emplace_back();
        entry.id = static_cast<std::uint16_t>(100 + i);
        for (int run = 0; run < 10; ++run) {
            entry.block_sizes.insert(entry.block_sizes.end(), {600, 0, 1024, 300});
        }
        for (int b = 0; b < 19240; ++b) {
            entry.bytes.push_back(static_cast<std::uint8_t>(b * 31 + i * 7 + (b >> 5)));
        }
        entry.block_sizes.back() = i == refused ? -32768 : 300;
    }
    return build_archive(archive);
}

struct ExtractCase {
    const char* name;
    int refused, uncreatable, unwritable; // 0-based clips, -1 none
    int result, files;
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const ExtractCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeAhead : public testing::TestWithParam<ExtractCase> {};

TEST_P(DecodeAhead, WritesExactlyWhatOneThreadWrites) {
    const ExtractCase& c = GetParam();
    TempDir dir;
    write_file(dir.file("B.pev"), many_clips(c.refused));
    std::vector<std::string> runs;
    for (const unsigned threads : {1u, 2u}) {
        const std::filesystem::path into = dir.path() / std::to_string(threads);
        std::filesystem::create_directory(into);
        CapturedStream console;
        int clip = 0;
        cli::ExtractOptions options{console.get(), console.get(), nullptr, threads};
        options.create_output = [&](const std::string& name) -> std::FILE* {
            const std::string path = (into / name).string();
            const int at = clip++;
            if (at == c.uncreatable) {
                return nullptr;
            }
            if (at == c.unwritable) {
                std::fclose(std::fopen(path.c_str(), "wb"));
                return std::fopen(path.c_str(), "rb"); // every write fails
            }
            return std::fopen(path.c_str(), "wb");
        };
        std::FILE* archive = std::fopen(dir.file("B.pev").c_str(), "rb");
        std::string run = std::to_string(cli::extract_archive("B", archive, options)) + "\n";
        std::fclose(archive);
        int files = 0;
        for (; std::filesystem::exists(into / archive::clip_file_name("B", files + 1)); ++files) {
            const auto bytes = read_file((into / archive::clip_file_name("B", files + 1)).string());
            run.append(bytes.begin(), bytes.end());
        }
        EXPECT_EQ(files, c.files);
        EXPECT_TRUE(run.starts_with(std::to_string(c.result) + "\n"));
        runs.push_back(run + console.text());
    }
    EXPECT_TRUE(runs[0] == runs[1]);
}

INSTANTIATE_TEST_SUITE_P(Extract, DecodeAhead,
                         testing::Values(ExtractCase{"every_clip", -1, -1, -1, kClips, kClips},
                                         ExtractCase{"refused_clip", 12, -1, -1, -1, 12},
                                         ExtractCase{"file_not_created", -1, 8, -1, -1, 8},
                                         ExtractCase{"write_fails", -1, -1, 4, -1, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

struct AheadCase {
    const char* name;
    int refused, folder_at, link_at; // 0-based clips, -1 none
    int result;
};

inline void PrintTo(const AheadCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteAhead : public testing::TestWithParam<AheadCase> {};

// Into real files, each written ahead under no name by the thread that
// decoded it: the same files and lines as on one thread, nothing of a file
// written ahead of a failure, and a name that is a link written through.
TEST_P(WriteAhead, WritesExactlyWhatOneThreadWrites) {
    const AheadCase& c = GetParam();
    TempDir dir;
    write_file(dir.file("B.pev"), many_clips(c.refused));
    std::vector<std::string> runs;
    for (const unsigned threads : {1u, 2u}) {
        const std::filesystem::path into = dir.path() / std::to_string(threads);
        const auto name_of = [&](int clip) {
            return into / archive::clip_file_name("B", clip + 1);
        };
        std::filesystem::create_directories(into / "elsewhere");
        if (c.folder_at >= 0) {
            std::filesystem::create_directory(name_of(c.folder_at));
        }
        if (c.link_at >= 0) {
            std::filesystem::create_symlink("elsewhere/target.wav", name_of(c.link_at));
        }
        CapturedStream console;
        const cli::ExtractOptions options{console.get(), console.get(), nullptr, threads};
        std::FILE* archive = std::fopen(dir.file("B.pev").c_str(), "rb");
        const int result = cli::extract_archive((into / "B").string(), archive, options);
        std::fclose(archive);
        EXPECT_EQ(result, c.result) << threads;
        // The lines name the folder, which differs from run to run.
        std::string run = std::regex_replace(console.text(), std::regex("/[12]/"), "/N/");
        std::vector<std::filesystem::path> entries(
            std::filesystem::recursive_directory_iterator(into), {});
        std::sort(entries.begin(), entries.end());
        for (const auto& entry : entries) {
            run += entry.lexically_relative(into).string() + "\n";
            if (std::filesystem::is_regular_file(entry)) {
                const auto bytes = read_file(entry.string());
                run.append(bytes.begin(), bytes.end());
            }
        }
        EXPECT_EQ(run.find(".tmp"), std::string::npos);
        if (c.link_at >= 0) {
            EXPECT_TRUE(std::filesystem::is_symlink(name_of(c.link_at))) << threads;
        }
        runs.push_back(run);
    }
    EXPECT_TRUE(runs[0] == runs[1]);
}

INSTANTIATE_TEST_SUITE_P(Extract, WriteAhead,
                         testing::Values(AheadCase{"every_clip", -1, -1, -1, kClips},
                                         AheadCase{"refused_clip", 12, -1, -1, -1},
                                         AheadCase{"name_is_a_folder", -1, 8, -1, -1},
                                         AheadCase{"name_is_a_link", -1, -1, 4, kClips}),
                         [](const auto& info) { return std::string(info.param.name); });

// Reads from memory, notes the furthest byte asked for (one thread reads at a
// time), and fails like an exhausted heap at one offset.
struct WatchedSource final : archive::ByteSource {
    WatchedSource(std::span<const std::uint8_t> bytes, std::uint64_t fail_at)
        : memory(bytes), fail_at(fail_at) {}
    std::uint64_t size() const override { return memory.size(); }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override {
        furthest = std::max(furthest, offset + into.size());
        if (offset == fail_at) {
            throw std::bad_alloc();
        }
        return memory.read_at(offset, into);
    }
    archive::MemorySource memory;
    std::uint64_t fail_at;
    mutable std::uint64_t furthest = 0;
};

struct StreamCase {
    const char* name;
    int refused, failing_read, consumer_stops, consumer_throws; // 0-based clips, -1 none
    bool stop_at_refusal;
    int consumed;
    const char* thrown;
};

// Named by the case, so test names stay the same from build to build.
inline void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeAheadStops : public testing::TestWithParam<StreamCase> {};

TEST_P(DecodeAheadStops, AtTheSameClipAndReadsAtMostOneClipAhead) {
    const StreamCase& c = GetParam();
    const auto bytes = many_clips(c.refused);
    const auto clip_at = [](int clip) { return kFirstClip + std::uint64_t(clip) * kClipBytes; };
    const WatchedSource source(bytes,
                               c.failing_read < 0 ? ~0ull : clip_at(c.failing_read) + kSizeTable);
    const archive::ArchiveReader reader(source);
    std::vector<std::size_t> indices(kClips);
    std::iota(indices.begin(), indices.end(), std::size_t{0});
    for (const unsigned threads : {1u, 2u}) {
        source.furthest = 0;
        int consumed = 0;
        std::string thrown;
        try {
            extraction::stream_clips(
                reader, indices, {c.stop_at_refusal, threads}, [&](extraction::ReadyClip& clip) {
                    EXPECT_EQ(clip.info.index, std::size_t(consumed));
                    if (!clip.info.ok()) {
                        // Time for a worker that wrongly reads on to do so.
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    if (consumed++ == c.consumer_throws) {
                        throw std::runtime_error("consumer");
                    }
                    return consumed - 1 != c.consumer_stops;
                });
        } catch (const std::exception& e) {
            thrown = e.what();
        }
        EXPECT_EQ(consumed, c.consumed) << threads;
        EXPECT_EQ(thrown, c.thrown) << threads;
        // Nothing past a refused clip's sizes; else one clip beyond the last.
        EXPECT_LE(source.furthest, c.refused >= 0 && c.stop_at_refusal
                                       ? clip_at(c.refused) + kSizeTable
                                       : clip_at(c.consumed + 1))
            << threads;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stream, DecodeAheadStops,
    testing::Values(StreamCase{"refusal_ends_reading", 12, -1, -1, -1, true, 13, ""},
                    StreamCase{"refusal_handed_over", 12, -1, -1, -1, false, kClips, ""},
                    StreamCase{"bad_alloc_after_earlier_clips", -1, 20, -1, -1, true, 20,
                               "std::bad_alloc"},
                    StreamCase{"consumer_stops", -1, -1, 7, -1, true, 8, ""},
                    StreamCase{"consumer_throws", -1, -1, -1, 7, true, 8, "consumer"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pev::test
