// What both player plugins stand on: titles made from URIs, the decodable
// clips listed, and the run of clips read and sought, against whole-clip
// decoding.

#include "capi/capi_support.hpp"
#include "common/clip_list.hpp"
#include "common/clip_sequence.hpp"
#include "common/clip_titles.hpp"
#include "support/archive_builder.hpp"
#include "support/sample_archives.hpp"

#include <gtest/gtest.h>

namespace pev::test {
namespace {

using player::ClipList;

TEST(ArchiveBaseName, IsTheExtractedFilesPrefixAsValidUtf8) {
    const struct {
        const char* uri;
        const char* base;
    } cases[] = {
        {"file:///music/demo.pev", "demo"},
        {"file:///music/V%C3%B6ice.PEV", "V\xC3\xB6ice"},
        {"file:///music/a%20b.Pev?3", "a b"}, // Audacious's subtune
        {"file:///music/bad%FFname.pev", "bad\xEF\xBF\xBDname"},
        {"file:///music/raw\xE9.pev", "raw\xEF\xBF\xBD"},
        {"file:///music/.pev", ".pev"},
        {"file:///music/notes.txt", "notes.txt"},
        {"http://host/dir/voices.pev?x=1#part", "voices"},
        {"/plain/path/demo.pev", "demo"},
        {"fd://0", "stdin"},
        {"", "stdin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(player::archive_base_name(c.uri), c.base) << c.uri;
    }
    EXPECT_EQ(player::clip_title("demo", 1), "demo_0001.wav");
    EXPECT_EQ(player::clip_title("demo", 12345), "demo_12345.wav");
}

// Clips 1, 3, 4 (empty) and 5 can be decoded; clip 2's block size has its
// top bit set.
TestArchive archive_with_damaged_clip() {
    TestArchive archive = three_clip_archive();
    TestEntry damaged{20, {static_cast<std::int16_t>(0x8004)}, {1, 2, 3, 4}, {}, {}};
    archive.entries.insert(archive.entries.begin() + 1, damaged);
    archive.entries.insert(archive.entries.begin() + 3, TestEntry{21, {}, {}, {}, {}});
    return archive;
}

std::vector<std::int16_t> listed_samples(const pev_archive* archive, const ClipList& list) {
    std::vector<std::int16_t> samples;
    for (const player::ListedClip& clip : list.clips) {
        const std::vector<std::int16_t> decoded = decode_samples(archive, clip.index);
        samples.insert(samples.end(), decoded.begin(), decoded.end());
    }
    return samples;
}

TEST(ListClips, LeavesDamagedClipsOutAndPlacesTheRest) {
    const Bytes bytes = build_archive(archive_with_damaged_clip());
    const ArchiveHandle archive = open_bytes(bytes);
    ClipList list;
    ASSERT_EQ(player::list_clips(archive.get(), 0, list), PEV_OK);
    EXPECT_EQ(list.archive_clips, 5u);
    ASSERT_EQ(list.skipped.size(), 1u);
    EXPECT_EQ(list.skipped[0].index, 1u);
    EXPECT_EQ(list.skipped[0].problem, PEV_ERR_MALFORMED_BLOCK_SIZE);
    std::uint64_t start = 0;
    const std::size_t positions[] = {1, 3, 4, 5};
    ASSERT_EQ(list.clips.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(list.clips[i].position(), positions[i]);
        EXPECT_EQ(list.clips[i].start, start);
        EXPECT_EQ(list.clips[i].samples, decode_samples(archive.get(), list.clips[i].index).size());
        start += list.clips[i].samples;
    }
    EXPECT_EQ(list.total_samples(), start);
    // The empty clip holds no sample: its start is the next clip's first.
    EXPECT_EQ(list.clip_holding(list.clips[2].start), 3u);
    EXPECT_EQ(list.clip_holding(start), 4u);

    ClipList one;
    ASSERT_EQ(player::list_clips(archive.get(), 3, one), PEV_OK);
    ASSERT_EQ(one.clips.size(), 1u);
    EXPECT_EQ(one.clips[0].start, 0u);
    EXPECT_EQ(player::list_clips(archive.get(), 2, one), PEV_ERR_MALFORMED_BLOCK_SIZE);
    EXPECT_EQ(player::list_clips(archive.get(), 6, one), PEV_ERR_CLIP_INDEX);
}

TEST(ClipSequence, ReadsAndSeeksAsTheClipsDecodeOneAfterAnother) {
    // More clips than the sequence keeps readers of, so that reading and
    // seeking go back to clips whose readers were closed.
    TestArchive more = archive_with_damaged_clip();
    const TestArchive three = three_clip_archive();
    more.entries.insert(more.entries.end(), three.entries.begin(), three.entries.end());
    const Bytes bytes = build_archive(more);
    const ArchiveHandle archive = open_bytes(bytes);
    ClipList list;
    ASSERT_EQ(player::list_clips(archive.get(), 0, list), PEV_OK);
    const std::vector<std::int16_t> expected = listed_samples(archive.get(), list);
    player::ClipSequence sequence(archive.get(), list);

    std::vector<std::int16_t> read(expected.size() + 1000);
    std::size_t at = 0, got = 0;
    do {
        const std::size_t clip = sequence.current_clip();
        ASSERT_EQ(sequence.read(read.data() + at, 700, &got), PEV_OK);
        at += got;
        // A read ends at its clip's end at the latest.
        EXPECT_TRUE(got == 0 || at <= list.clips[clip].end());
    } while (got > 0);
    read.resize(at);
    EXPECT_EQ(read, expected);

    const std::uint64_t total = list.total_samples();
    for (const std::uint64_t target : {total / 2, std::uint64_t{0}, list.clips[1].start - 1,
                                       list.clips[3].start, total - 1, std::uint64_t{77}, total}) {
        ASSERT_EQ(sequence.seek(target), PEV_OK);
        std::int16_t sample = 0;
        ASSERT_EQ(sequence.read(&sample, 1, &got), PEV_OK);
        ASSERT_EQ(got, target < total ? 1u : 0u) << target;
        if (got == 1) {
            EXPECT_EQ(sample, expected[target]) << target;
        }
    }
    EXPECT_EQ(sequence.seek(total + 1), PEV_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(sequence.position(), total);
}

} // namespace
} // namespace pev::test
