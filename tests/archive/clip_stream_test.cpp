// Decoding ahead on a second thread may change the time and nothing else:
// every case runs on one thread and with decoding ahead forced, on an archive
// of enough clips that the worker decodes while files are written.

#include "archive/clip_stream.hpp"
#include "archive/extract.hpp"
#include "support/archive_builder.hpp"
#include "support/captured_stream.hpp"
#include "support/temp_dir.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <new>
#include <numeric>
#include <stdexcept>

namespace pev::test {
namespace {

constexpr int kClips = 32;
constexpr int kRuns = 10; // of four blocks in each clip
constexpr std::uint64_t kSizeTableBytes = 8 * kRuns;
constexpr std::uint64_t kClipBytes = kSizeTableBytes + 1924 * kRuns;

// Clips of ten runs of a delta, a silent, a raw and a delta block: alike in
// size, unlike in bytes, long enough that both threads decode parts of them.
TestArchive many_clips(int refused_position = 0) {
    TestArchive archive;
    for (int i = 0; i < kClips; ++i) {
        TestEntry entry;
        entry.id = static_cast<std::uint16_t>(100 + i);
        for (int run = 0; run < kRuns; ++run) {
            entry.block_sizes.insert(entry.block_sizes.end(), {600, 0, 1024, 300});
        }
        for (int b = 0; b < 1924 * kRuns; ++b) {
            entry.bytes.push_back(static_cast<std::uint8_t>(b * 31 + i * 7 + (b >> 5)));
        }
        if (i + 1 == refused_position) {
            entry.block_sizes.back() = -32768;
        }
        archive.entries.push_back(entry);
    }
    return archive;
}

struct ExtractCase {
    const char* name;
    int refused_position, uncreatable_position, unwritable_position;
    int result, files;
};

struct Extraction {
    int result;
    std::string out, err;
    archive::ExtractStats stats;
    std::vector<std::vector<std::uint8_t>> files;
};

Extraction extract_with(unsigned threads, const ExtractCase& c, const TempDir& dir) {
    const std::filesystem::path into = dir.path() / std::to_string(threads);
    std::filesystem::create_directory(into);
    std::FILE* file = std::fopen(dir.file("B.pev").c_str(), "rb");
    CapturedStream out, err;
    archive::ExtractOptions options{out.get(), err.get(), nullptr, threads};
    int position = 0;
    options.create_output = [&](const std::string& name) -> std::FILE* {
        const std::string path = (into / name).string();
        ++position;
        if (position == c.unwritable_position) {
            std::fclose(std::fopen(path.c_str(), "wb"));
            return std::fopen(path.c_str(), "rb"); // every write fails
        }
        return position == c.uncreatable_position ? nullptr : std::fopen(path.c_str(), "wb");
    };
    Extraction run;
    run.result = archive::extract_archive("B", file, options, &run.stats);
    std::fclose(file);
    run.out = out.text();
    run.err = err.text();
    for (int i = 1; std::filesystem::exists(into / archive::clip_file_name("B", i)); ++i) {
        run.files.push_back(read_file((into / archive::clip_file_name("B", i)).string()));
    }
    return run;
}

void PrintTo(const ExtractCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeAhead : public testing::TestWithParam<ExtractCase> {};

TEST_P(DecodeAhead, WritesExactlyWhatOneThreadWrites) {
    const ExtractCase& c = GetParam();
    TempDir dir;
    write_file(dir.file("B.pev"), build_archive(many_clips(c.refused_position)));
    const Extraction one = extract_with(1, c, dir);
    const Extraction two = extract_with(2, c, dir);
    EXPECT_EQ(one.result, c.result);
    EXPECT_EQ(one.files.size(), static_cast<std::size_t>(c.files));
    EXPECT_EQ(two.result, one.result);
    EXPECT_EQ(two.out, one.out);
    EXPECT_EQ(two.err, one.err);
    EXPECT_TRUE(two.files == one.files);
    EXPECT_EQ(two.stats.largest_compressed_bytes, one.stats.largest_compressed_bytes);
    EXPECT_EQ(two.stats.largest_sample_buffer_bytes, one.stats.largest_sample_buffer_bytes);
}

INSTANTIATE_TEST_SUITE_P(Extract, DecodeAhead,
                         testing::Values(ExtractCase{"every_clip", 0, 0, 0, kClips, kClips},
                                         ExtractCase{"refused_clip", 13, 0, 0, -1, 12},
                                         ExtractCase{"file_not_created", 0, 9, 0, -1, 8},
                                         ExtractCase{"write_fails", 0, 0, 5, -1, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// Reads from memory, notes the furthest byte asked for, and fails like an
// exhausted heap at one clip's bytes.
class WatchedSource final : public archive::ByteSource {
  public:
    WatchedSource(std::span<const std::uint8_t> bytes, std::uint64_t fail_at)
        : memory_(bytes), fail_at_(fail_at) {}
    std::uint64_t size() const override { return memory_.size(); }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override {
        furthest = std::max(furthest, offset + into.size());
        if (offset == fail_at_ && !into.empty()) {
            throw std::bad_alloc();
        }
        return memory_.read_at(offset, into);
    }
    mutable std::uint64_t furthest = 0; // read only by one thread at a time

  private:
    archive::MemorySource memory_;
    std::uint64_t fail_at_;
};

struct StreamCase {
    const char* name;
    int refused, failing_read, consumer_stops, consumer_throws; // 0-based clips, -1 none
    bool stop_at_refusal;
    int consumed;
    const char* thrown; // "" when the stream returns
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeAheadStops : public testing::TestWithParam<StreamCase> {};

TEST_P(DecodeAheadStops, AtTheSameClipAndReadsAtMostOneClipAhead) {
    const StreamCase& c = GetParam();
    const auto bytes = build_archive(many_clips(c.refused + 1));
    const std::uint64_t first = 32 + 8 * kClips;
    const auto clip_at = [&](int clip) { return first + std::uint64_t(clip) * kClipBytes; };
    const WatchedSource source(
        bytes, c.failing_read < 0 ? ~std::uint64_t{0} : clip_at(c.failing_read) + kSizeTableBytes);
    const archive::ArchiveReader reader(source);
    std::vector<std::size_t> indices(kClips);
    std::iota(indices.begin(), indices.end(), std::size_t{0});
    std::vector<std::vector<std::int16_t>> frames[2];
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        source.furthest = 0;
        int consumed = 0;
        std::string thrown;
        try {
            archive::stream_clips(
                reader, indices, {c.stop_at_refusal, threads}, [&](archive::ReadyClip& clip) {
                    EXPECT_EQ(clip.info.index, static_cast<std::size_t>(consumed));
                    const auto samples =
                        clip.frame.subspan(clip.frame.empty() ? 0 : wav::kHeaderRoomSamples);
                    frames[threads - 1].emplace_back(samples.begin(), samples.end());
                    if (consumed++ == c.consumer_throws) {
                        throw std::runtime_error("consumer");
                    }
                    return consumed - 1 != c.consumer_stops;
                });
        } catch (const std::bad_alloc&) {
            thrown = "bad_alloc";
        } catch (const std::runtime_error&) {
            thrown = "consumer";
        }
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(thrown, c.thrown);
        // Nothing past a refused clip's sizes; else one clip beyond the last.
        EXPECT_LE(source.furthest, c.refused >= 0 && c.stop_at_refusal
                                       ? clip_at(c.refused) + kSizeTableBytes
                                       : clip_at(c.consumed + 1));
    }
    // A consumer this quick waits for the worker, and decodes halves itself.
    EXPECT_TRUE(frames[0] == frames[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Stream, DecodeAheadStops,
    testing::Values(StreamCase{"refusal_ends_reading", 12, -1, -1, -1, true, 13, ""},
                    StreamCase{"refusal_handed_over", 12, -1, -1, -1, false, kClips, ""},
                    StreamCase{"bad_alloc_after_earlier_clips", -1, 20, -1, -1, true, 20,
                               "bad_alloc"},
                    StreamCase{"consumer_stops", -1, -1, 7, -1, true, 8, ""},
                    StreamCase{"consumer_throws", -1, -1, -1, 7, true, 8, "consumer"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pev::test
