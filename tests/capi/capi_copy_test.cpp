// pev_writer_copy_clip: clips copied as they are stored decode exactly as in
// their source, refused clips are refused with their problem, and replacing
// one clip through the library gives pev replace's archive.

#include "capi/capi_support.hpp"
#include "support/archive_builder.hpp"
#include "support/process.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"
#include "support/wav_builder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

WriterHandle writer_like(const pev_archive* like) {
    pev_writer* writer = nullptr;
    EXPECT_EQ(like != nullptr ? pev_writer_new_like(22050, like, &writer)
                              : pev_writer_new(22050, &writer),
              PEV_OK);
    return {writer, pev_writer_free};
}

Bytes finished(pev_writer* writer) {
    void* bytes = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(pev_writer_finish_memory(writer, &bytes, &size), PEV_OK);
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    Bytes archive(first, first + size);
    pev_free(bytes);
    return archive;
}

// The three-clip archive's clips are stored as this encoder never would (a
// raw block, an escape across blocks): copied, in another order, each
// decodes as its source; copied in order into a writer like the archive,
// they give back the archive byte for byte.
TEST(CapiCopy, CopiedClipsDecodeAsTheirSource) {
    const Bytes source_bytes = build_archive(three_clip_archive());
    const ArchiveHandle source = open_bytes(source_bytes);
    ASSERT_TRUE(source);

    const WriterHandle reordered = writer_like(nullptr);
    for (const std::size_t index : {2, 0, 1}) {
        ASSERT_EQ(pev_writer_copy_clip(reordered.get(), source.get(), index), PEV_OK) << index;
    }
    const Bytes copy_bytes = finished(reordered.get());
    const ArchiveHandle copy = open_bytes(copy_bytes);
    ASSERT_TRUE(copy);
    EXPECT_EQ(decode_samples(copy.get(), 0), decode_samples(source.get(), 2));
    EXPECT_EQ(decode_samples(copy.get(), 1), decode_samples(source.get(), 0));
    EXPECT_EQ(decode_samples(copy.get(), 2), decode_samples(source.get(), 1));

    const WriterHandle alike = writer_like(source.get());
    for (std::size_t index = 0; index < 3; ++index) {
        ASSERT_EQ(pev_writer_copy_clip(alike.get(), source.get(), index), PEV_OK);
    }
    // One more than the archive it is like is refused, as an added clip is.
    EXPECT_EQ(pev_writer_copy_clip(alike.get(), source.get(), 0), PEV_ERR_LIKE_MISMATCH);
    EXPECT_EQ(finished(alike.get()), source_bytes);
}

// A clip the reader refuses cannot be copied: its problem is the status and
// the writer is as it was. So are the other misuses.
TEST(CapiCopy, RefusedClipsAndMisuse) {
    TestEntry malformed = raw_ramp_entry(5);
    malformed.block_sizes = {1024, -2};
    malformed.bytes.resize(1024 + 2);
    TestArchive damaged = three_clip_archive();
    damaged.entries.push_back(malformed);
    const Bytes source_bytes = build_archive(damaged);
    const ArchiveHandle source = open_bytes(source_bytes);
    ASSERT_TRUE(source);
    TestArchive other_rate = three_clip_archive();
    other_rate.samples_per_sec = 8000;
    const Bytes other_bytes = build_archive(other_rate);
    const ArchiveHandle other = open_bytes(other_bytes);

    const WriterHandle writer = writer_like(nullptr);
    EXPECT_EQ(pev_writer_copy_clip(writer.get(), source.get(), 3), PEV_ERR_MALFORMED_BLOCK_SIZE);
    EXPECT_EQ(pev_writer_copy_clip(writer.get(), source.get(), 4), PEV_ERR_CLIP_INDEX);
    EXPECT_EQ(pev_writer_copy_clip(writer.get(), other.get(), 0), PEV_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(pev_writer_copy_clip(writer.get(), nullptr, 0), PEV_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(pev_writer_copy_clip(nullptr, source.get(), 0), PEV_ERR_INVALID_ARGUMENT);
    ASSERT_EQ(pev_writer_copy_clip(writer.get(), source.get(), 1), PEV_OK);
    // A source whose reads fail once it is open: the system's reason comes
    // back, through the archive.
    struct Failing {
        const Bytes* bytes;
        bool open = false;
    } failing{&source_bytes};
    const auto read = [](void* user, std::uint64_t offset, void* into, std::size_t size) {
        auto& source = *static_cast<Failing*>(user);
        if (source.open) {
            return std::int64_t{-EIO};
        }
        const std::size_t n = std::min<std::size_t>(size, source.bytes->size() - offset);
        std::memcpy(into, source.bytes->data() + offset, n);
        return static_cast<std::int64_t>(n);
    };
    pev_archive* opened = nullptr;
    ASSERT_EQ(pev_open_callbacks(read, source_bytes.size(), &failing, &opened), PEV_OK);
    const ArchiveHandle flaky(opened, pev_close);
    failing.open = true;
    int reason = 0;
    EXPECT_EQ(pev_writer_copy_clip(writer.get(), flaky.get(), 1), PEV_ERR_IO);
    EXPECT_EQ(pev_last_os_error(flaky.get(), &reason), PEV_OK);
    EXPECT_EQ(reason, EIO);

    const Bytes one_clip = finished(writer.get());
    EXPECT_EQ(pev_writer_copy_clip(writer.get(), source.get(), 0), PEV_ERR_WRITER_FINISHED);
    const ArchiveHandle copy = open_bytes(one_clip);
    std::size_t count = 0;
    ASSERT_EQ(pev_clip_count(copy.get(), &count), PEV_OK);
    EXPECT_EQ(count, 1u);
}

// Replacing clip 2 of 3 through the library: the archive pev replace writes.
TEST(CapiCopy, ReplacingOneClipIsPevReplace) {
    const TempDir dir;
    write_file(dir.file("B.pev"), build_archive(three_clip_archive()));
    const std::vector<std::int16_t> samples = noise(3001, 4);
    write_file(dir.file("new.wav"), wav_file_bytes(samples, 22050));
    const ProcessResult replaced =
        run_process(PEV_BINARY_DIR "/pev", {"pev", "replace", "B", "2=new.wav", "-o", "R"},
                    dir.path().string());
    ASSERT_EQ(replaced.status, 0) << replaced.err;

    const ArchiveHandle source = open_path(dir.file("B.pev"));
    ASSERT_TRUE(source);
    const WriterHandle writer = writer_like(source.get());
    ASSERT_EQ(pev_writer_copy_clip(writer.get(), source.get(), 0), PEV_OK);
    ASSERT_EQ(pev_writer_add_clip(writer.get(), samples.data(), samples.size()), PEV_OK);
    ASSERT_EQ(pev_writer_copy_clip(writer.get(), source.get(), 2), PEV_OK);
    ASSERT_EQ(pev_writer_finish_file(writer.get(), dir.file("L.pev").c_str(), 0), PEV_OK);
    EXPECT_EQ(read_file(dir.file("L.pev")), read_file(dir.file("R.pev")));
}

} // namespace
} // namespace pev::test
