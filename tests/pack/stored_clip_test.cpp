#include "archive/archive_reader.hpp"
#include "archive/byte_sink.hpp"
#include "archive/byte_source.hpp"
#include "codec/block_decoder.hpp"
#include "codec/block_encoder.hpp"
#include "codec/test_delta_coder.hpp"
#include "pack/archive_packer.hpp"
#include "pack/pack_session.hpp"
#include "pack/stored_clip.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"
#include "wav/wav_writer.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace pev::pack {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Sizes = std::vector<std::int16_t>;

// A clip as the reader gives it: sizes, stored bytes and samples.
struct ReadClip {
    Sizes sizes;
    Bytes bytes;
    std::vector<std::int16_t> samples;
};

ReadClip read_clip(const archive::ArchiveReader& reader, std::size_t index) {
    archive::ClipBuffers buffers;
    const archive::ClipInfo info = reader.inspect(index, buffers);
    EXPECT_TRUE(info.ok()) << "clip " << index;
    ReadClip clip;
    clip.sizes.assign(info.block_sizes.begin(), info.block_sizes.end());
    const auto bytes = reader.read_stored_bytes(info, buffers);
    clip.bytes.assign(bytes.begin(), bytes.end());
    const auto samples = reader.decode(info, buffers).samples();
    clip.samples.assign(samples.begin(), samples.end());
    return clip;
}

test::TestEntry entry(std::uint16_t id, Sizes sizes, Bytes bytes) {
    test::TestEntry made;
    made.id = id;
    made.block_sizes = std::move(sizes);
    made.bytes = std::move(bytes);
    return made;
}

// Entries stored as this encoder never would: a raw block of near silence
// (delta would take 512 bytes), plain steps written as escapes, an odd
// number of nibbles whose spare one decodes as one more sample, a silent
// block; and one the reader refuses.
test::TestArchive hand_built_archive() {
    std::mt19937 random(5);
    std::vector<std::uint8_t> quiet(1024);
    for (auto& level : quiet) {
        level = static_cast<std::uint8_t>(127 + random() % 3);
    }
    std::vector<std::uint8_t> wander(301);
    std::uint8_t level = 128;
    for (auto& next : wander) {
        level = static_cast<std::uint8_t>(level + random() % 9 - 4);
        next = level;
    }
    const test::CodedDeltaBlock escaped = test::encode_delta_block(wander, random, 0.5);
    EXPECT_TRUE(escaped.padded); // 301 codes: the spare nibble is a 302nd sample

    test::TestArchive archive;
    archive.samples_per_sec = 11025;
    archive.entries = {
        entry(7, {1024}, quiet),
        entry(8, {0, static_cast<std::int16_t>(escaped.bytes.size())}, escaped.bytes),
        entry(9, {4, -3}, {1, 2, 3, 4}),
    };
    return archive;
}

// Copied clips keep their sizes and bytes, so they decode as in their
// source; next to them an encoded clip is as the encoder makes it; the
// summaries count what was stored; streaming and collecting agree.
TEST(StoredClip, CopiesDecodeExactlyAsInTheirSource) {
    const Bytes source_bytes = test::build_archive(hand_built_archive());
    const archive::MemorySource source(source_bytes);
    const archive::ArchiveReader reader(source);
    ASSERT_EQ(reader.open_result(), archive::OpenResult::ok);

    const std::vector<std::int16_t> samples(3001, 600);
    archive::MemorySink streamed, uncounted_sink;
    ArchivePacker packer(streamed, layout_for(3, nullptr).layout);
    // Copying without counting samples writes the same archive.
    ArchivePacker uncounted_packer(uncounted_sink, layout_for(3, nullptr).layout);
    PackSession session;
    archive::ClipBuffers buffers;
    std::vector<ClipSummary> summaries;
    for (const std::size_t index : {std::size_t{0}, std::size_t{1}}) {
        StoredClip clip;
        ASSERT_TRUE(read_stored_clip(reader, index, buffers, clip).ok());
        EXPECT_EQ(clip.rate, 11025u);
        ClipSummary summary, again;
        ASSERT_TRUE(packer.add_stored_clip(clip, &summary).ok());
        ASSERT_TRUE(session.add_stored_clip(clip, &again).ok());
        EXPECT_EQ(again.stored_bytes, summary.stored_bytes);
        summaries.push_back(summary);
        StoredClip uncounted;
        ASSERT_TRUE(read_stored_clip(reader, index, buffers, uncounted, CountSamples::no).ok());
        EXPECT_FALSE(uncounted.sample_count.has_value());
        ASSERT_TRUE(uncounted_packer.add_stored_clip(uncounted).ok());
        if (index == 0) {
            ASSERT_TRUE(uncounted_packer.add_clip(samples, 11025).ok());
            ASSERT_TRUE(packer.add_clip(samples, 11025).ok());
            ASSERT_TRUE(session.add_clip(samples, 11025).ok());
        }
    }
    ASSERT_TRUE(packer.finish().ok());
    ASSERT_TRUE(uncounted_packer.finish().ok());
    EXPECT_EQ(uncounted_sink.bytes(), streamed.bytes());
    archive::MemorySink collected;
    ASSERT_TRUE(session.write_to(collected).ok());
    EXPECT_EQ(collected.bytes(), streamed.bytes());

    const archive::MemorySource copy_source(streamed.bytes());
    const archive::ArchiveReader copy(copy_source);
    ASSERT_EQ(copy.clip_count(), 3u);
    for (const auto& [from, to] : {std::pair{0, 0}, std::pair{1, 2}}) {
        const ReadClip original = read_clip(reader, from);
        const ReadClip copied = read_clip(copy, to);
        EXPECT_EQ(copied.sizes, original.sizes) << "clip " << from;
        EXPECT_EQ(copied.bytes, original.bytes) << "clip " << from;
        EXPECT_EQ(copied.samples, original.samples) << "clip " << from;
    }
    EXPECT_EQ(read_clip(copy, 1).sizes, encode_entry(samples).block_sizes);

    EXPECT_EQ(summaries[0].raw_blocks, 1u);
    EXPECT_EQ(summaries[0].stored_samples, 1024u);
    EXPECT_EQ(summaries[1].silent_blocks, 1u);
    EXPECT_EQ(summaries[1].delta_blocks, 1u);
    EXPECT_EQ(summaries[1].stored_samples, 1024u + 302u);
    EXPECT_EQ(packer.stored_samples(), 1024u + 3002u + 1326u);
}

// The demo cut 200 bytes short, read from its file: the last clip's final
// bytes lie past the end, where its sizes still place them, and read as 0.
// Copied through the buffers the clips before filled, they must be zeros
// too, so that every copy decodes as its source.
TEST(StoredClip, CopiesOfACutArchiveDecodeAsTheirSource) {
    const Bytes demo = test::read_file(PEV_SOURCE_DIR "/examples/demo.pev");
    const test::TempDir dir;
    test::write_file(dir.file("cut.pev"), Bytes(demo.begin(), demo.end() - 200));
    std::FILE* file = std::fopen(dir.file("cut.pev").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const archive::FileSource source(file);
    const archive::ArchiveReader reader(source);
    ASSERT_EQ(reader.clip_count(), 3u);
    archive::MemorySink sink;
    ArchivePacker packer(sink, layout_for(3, nullptr).layout);
    archive::ClipBuffers buffers;
    for (std::size_t index = 0; index < 3; ++index) {
        StoredClip clip;
        ASSERT_TRUE(read_stored_clip(reader, index, buffers, clip, CountSamples::no).ok());
        ASSERT_TRUE(packer.add_stored_clip(clip).ok());
    }
    ASSERT_TRUE(packer.finish().ok());
    const archive::MemorySource copy_source(sink.bytes());
    const archive::ArchiveReader copy(copy_source);
    for (std::size_t index = 0; index < 3; ++index) {
        EXPECT_EQ(read_clip(copy, index).samples, read_clip(reader, index).samples)
            << "clip " << index;
    }
    std::fclose(file);
}

// The longest clip the format holds, 65535 blocks, is copied by both
// packers; one block more (given directly) is refused by both.
TEST(StoredClip, LongestClipIsCopiedAndNoLonger) {
    for (const std::size_t blocks : {std::size_t{65535}, std::size_t{65536}}) {
        SCOPED_TRACE(blocks);
        const Sizes silent(blocks, 0);
        const StoredClip clip{silent, {}, std::nullopt, 8000};
        archive::MemorySink sink;
        ArchivePacker packer(sink, layout_for(1, nullptr).layout);
        PackSession session;
        const ErrorCode expected = blocks > 65535 ? ErrorCode::clip_too_long : ErrorCode::none;
        EXPECT_EQ(packer.add_stored_clip(clip).code, expected);
        EXPECT_EQ(session.add_stored_clip(clip).code, expected);
    }
}

TEST(StoredClip, RefusedClipsAreNotCopied) {
    const Bytes source_bytes = test::build_archive(hand_built_archive());
    const archive::MemorySource source(source_bytes);
    const archive::ArchiveReader reader(source);
    archive::ClipBuffers buffers;
    StoredClip clip;
    const Error error = read_stored_clip(reader, 2, buffers, clip);
    EXPECT_EQ(error.code, ErrorCode::clip_refused);
    EXPECT_EQ(error.problem, ClipProblem::malformed_block_size);
    ASSERT_TRUE(error.clip.has_value());
    EXPECT_EQ(error.clip->id, 9);

    // Given directly, sizes that lie are refused too, and change nothing.
    const Bytes bytes = {0x21, 0x21};
    struct Case {
        Sizes sizes;
        ClipProblem problem;
    };
    const Case cases[] = {{{2, -1}, ClipProblem::malformed_block_size},
                          {{3}, ClipProblem::bytes_past_end}};
    for (const Case& c : cases) {
        archive::MemorySink sink;
        ArchivePacker packer(sink, layout_for(1, nullptr).layout);
        PackSession session;
        const StoredClip lying{c.sizes, bytes, 4, 8000};
        EXPECT_EQ(packer.add_stored_clip(lying).problem, c.problem);
        EXPECT_EQ(session.add_stored_clip(lying).problem, c.problem);
        EXPECT_EQ(packer.clips_added() + session.clips_added(), 0u);
    }
}

// A file cut short after it was opened: the clip cannot be read, and is not
// copied as zeros.
TEST(StoredClip, ArchiveCutWhileReadIsAnError) {
    const test::TempDir dir;
    // Larger than what the file's stream reads ahead.
    test::TestArchive eight_raw_blocks;
    eight_raw_blocks.entries = {entry(4, Sizes(8, 1024), Bytes(8 * 1024, 0x81))};
    test::write_file(dir.file("a.pev"), test::build_archive(eight_raw_blocks));
    std::FILE* file = std::fopen(dir.file("a.pev").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const archive::FileSource source(file);
    const archive::ArchiveReader reader(source);
    ASSERT_EQ(reader.open_result(), archive::OpenResult::ok);
    // Halfway into the clip's bytes, after the header, the row and its sizes.
    std::filesystem::resize_file(dir.path() / "a.pev", 32 + 8 + 16 + 4000);
    archive::ClipBuffers buffers;
    StoredClip clip;
    const Error error = read_stored_clip(reader, 0, buffers, clip, CountSamples::no);
    std::fclose(file);
    EXPECT_EQ(error.code, ErrorCode::cannot_read);
    ASSERT_TRUE(error.clip.has_value());
    EXPECT_EQ(error.clip->id, 4);
}

} // namespace
} // namespace pev::pack
