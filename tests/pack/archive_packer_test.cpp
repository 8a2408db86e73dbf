#include "cli/pack_messages.hpp"
#include "common/little_endian.hpp"
#include "pack/archive_packer.hpp"
#include "pack/pack_session.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace pev::pack {
namespace {

using Samples = std::vector<std::int16_t>;

// The packers' words for an error about no file in particular.
std::string reason(const Error& error) {
    return error.ok() ? "" : cli::pack_error_text(error).substr(2);
}

TEST(CheckClip, OneRateAndAtMost65535Blocks) {
    struct Case {
        std::uint64_t samples;
        std::uint32_t rate, archive_rate;
        const char* error;
    };
    const Case cases[] = {
        {65535 * 1024, 8000, 0, ""},
        {65534 * 1024 + 1, 8000, 8000, ""}, // odd: padded within the last block
        {65535 * 1024 + 1, 8000, 0,
         "its 67107841 samples need 65536 blocks of 1024; a clip holds at most 65535 blocks"},
        {10, 16000, 8000,
         "its sample rate is 16000 Hz, but the clips before it are at 8000 Hz; all clips of an "
         "archive share one rate"},
        {10, 0, 0, "its sample rate is 0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reason(check_clip(c.samples, c.rate, c.archive_rate)), c.error) << c.samples;
    }
}

// The longest clip there is goes all the way into the archive's table.
TEST(ArchivePacker, ClipOfExactly65535BlocksIsPacked) {
    const Samples silence(65535 * 1024, 0);
    archive::MemorySink sink;
    ArchivePacker packer(sink, layout_for(1, nullptr).layout);
    ClipSummary clip;
    ASSERT_TRUE(packer.add_clip(silence, 8000, &clip).ok());
    EXPECT_EQ(clip.blocks, 65535u);
    ASSERT_TRUE(packer.finish().ok());
    EXPECT_EQ(load_u16le(sink.bytes(), 32 + 2), 65535); // the row's block count
}

// Collecting clips, then laying them out, gives the very archive streaming
// does; a refused clip leaves the session as it was.
TEST(PackSession, LaysOutTheArchiveStreamingWrites) {
    archive::ArchiveTemplate like;
    like.header.fill(0x5A);
    like.entry_ids = {300, 17, 9};
    const std::vector<Samples> clips = {Samples(3001, 1000), Samples{}, Samples(2048, -5)};
    archive::MemorySink streamed;
    ArchivePacker packer(streamed, layout_for(3, &like).layout);
    PackSession session(like);
    for (const Samples& clip : clips) {
        ASSERT_TRUE(packer.add_clip(clip, 11025).ok());
        ASSERT_TRUE(session.add_clip(clip, 11025).ok());
    }
    ASSERT_TRUE(packer.finish().ok());
    EXPECT_FALSE(session.add_clip(Samples(4), 8000).ok());
    archive::MemorySink collected;
    ASSERT_TRUE(session.write_to(collected).ok());
    EXPECT_EQ(collected.bytes(), streamed.bytes());
    EXPECT_EQ(load_u16le(collected.bytes(), 32), 300);
    EXPECT_EQ(collected.bytes()[6], 0x5A);

    PackSession one(like);
    ASSERT_TRUE(one.add_clip(Samples(2), 8000).ok());
    archive::MemorySink unused;
    EXPECT_EQ(reason(one.write_to(unused)), "it holds 3 clips, but 1 are being packed");
    // One clip more than the model holds is refused when it is added.
    PackSession full(like);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(full.add_clip(Samples(2), 8000).ok());
    }
    EXPECT_EQ(full.add_clip(Samples(2), 8000).code, ErrorCode::like_count_mismatch);
}

} // namespace
} // namespace pev::pack
