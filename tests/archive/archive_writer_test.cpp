#include "archive/archive_writer.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace {

using pev::archive::ArchiveWriter;
using pev::archive::HeaderBytes;
using Bytes = std::vector<std::uint8_t>;

// An archive written to a real output file, read back once committed.
struct TempFile {
    pev::test::TempDir dir;
    pev::OutputFile file{dir.file("a.pev")};
    pev::archive::OutputFileSink sink{file};

    TempFile() { EXPECT_FALSE(file.create()); }
    Bytes contents() {
        EXPECT_FALSE(file.commit());
        return pev::test::read_file(dir.file("a.pev"));
    }
};

// A device that is always full.
class FullSink final : public pev::archive::ByteSink {
  public:
    explicit FullSink(std::size_t room) : room_(room) {}
    bool append(std::span<const std::uint8_t> bytes) override { return take(bytes.size()); }
    // What is buffered cannot go out.
    bool write_at(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
    bool flush() override { return false; }
    std::error_code error() const override {
        return std::make_error_code(std::errc::no_space_on_device);
    }

  private:
    bool take(std::size_t size) {
        if (size > room_) {
            return false;
        }
        room_ -= size;
        return true;
    }
    std::size_t room_;
};

TEST(ArchiveHeader, KeepsOnlyTheBytesTheUnpackerSkips) {
    HeaderBytes kept;
    kept.fill(0xAA);
    const HeaderBytes header = pev::archive::make_archive_header(0x01020304, 22050, kept);
    const Bytes expected = {'P',  'E',  'V',  'P',  'A',  'C',  0xAA, 0xAA, 0xAA, 0xAA, 0xAA,
                            0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x04, 0x03, 0x02, 0x01, 0xAA, 0xAA,
                            0xAA, 0xAA, 0x22, 0x56, 0x00, 0x00, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
}

TEST(ArchiveHeader, EntryRowIsLittleEndian) {
    const auto row = pev::archive::make_entry_row(0x0102, 0x0304, 0x05060708);
    EXPECT_EQ(Bytes(row.begin(), row.end()),
              (Bytes{0x02, 0x01, 0x04, 0x03, 0x08, 0x07, 0x06, 0x05}));
}

// The writer lays the archive out exactly as the test builder does, which
// the unpacker's own tests read, in a file and in memory alike.
TEST(ArchiveWriter, LaysOutHeaderTableSizesAndBytes) {
    pev::test::TestArchive expected;
    expected.samples_per_sec = 8000;
    expected.entries = {
        {7, {0, 1024, 3}, Bytes(1027, 0x11), std::nullopt, std::nullopt},
        {9, {}, {}, std::nullopt, std::nullopt},
        {0xFFFF, {2}, {0x21, 0x43}, std::nullopt, std::nullopt},
    };
    TempFile temp;
    pev::archive::MemorySink memory;
    for (pev::archive::ByteSink* sink : {static_cast<pev::archive::ByteSink*>(&temp.sink),
                                         static_cast<pev::archive::ByteSink*>(&memory)}) {
        ArchiveWriter writer(*sink, expected.entries.size());
        for (const auto& entry : expected.entries) {
            EXPECT_TRUE(writer.add_entry(entry.id, entry.block_sizes, entry.bytes).ok());
        }
        EXPECT_TRUE(writer.finish(8000, HeaderBytes{}).ok());
        EXPECT_EQ(writer.size(), pev::test::build_archive(expected).size());
    }
    EXPECT_EQ(temp.contents(), pev::test::build_archive(expected));
    EXPECT_EQ(memory.bytes(), pev::test::build_archive(expected));
}

// A write the device refuses is an error, whether it meets the device while
// an entry is added (more than the stream buffers) or only at the end.
TEST(ArchiveWriter, FailedWriteIsAnError) {
    for (const std::size_t entry_bytes : {std::size_t{10}, std::size_t{200000}}) {
        FullSink sink(1000); // room for the placeholder, not for the large entry
        ArchiveWriter writer(sink, 1);
        const pev::Error added = writer.add_entry(0, {}, Bytes(entry_bytes, 0x11));
        const pev::Error finished = writer.finish(8000, HeaderBytes{});
        EXPECT_TRUE(added.code == pev::ErrorCode::none ||
                    added.code == pev::ErrorCode::cannot_write)
            << entry_bytes;
        EXPECT_EQ(finished.code, pev::ErrorCode::cannot_write) << entry_bytes;
        EXPECT_EQ(finished.os, std::errc::no_space_on_device) << entry_bytes;
    }
}

TEST(ArchiveWriter, EmptyArchiveIsJustAHeader) {
    TempFile temp;
    ArchiveWriter writer(temp.sink, 0);
    EXPECT_TRUE(writer.finish(22050, HeaderBytes{}).ok());
    EXPECT_EQ(temp.contents(), pev::test::build_archive({}));
}

TEST(ArchiveWriter, RefusesWhatTheLayoutCannotHold) {
    TempFile temp;
    ArchiveWriter writer(temp.sink, 1);
    const std::vector<std::int16_t> too_many_blocks(65536, 0);
    EXPECT_EQ(writer.add_entry(0, too_many_blocks, {}).code, pev::ErrorCode::clip_too_long);
    EXPECT_FALSE(writer.finish(8000, HeaderBytes{}).ok()); // the entry never arrived
    EXPECT_TRUE(writer.add_entry(0, std::vector<std::int16_t>(65535, 0), {}).ok());
    EXPECT_EQ(writer.add_entry(1, {}, {}).code, pev::ErrorCode::more_clips_than_laid_out);
    EXPECT_TRUE(writer.finish(8000, HeaderBytes{}).ok());
}

// The template comes from the archive reader, so it keeps what the reader
// read and refuses what the reader refuses.
TEST(ArchiveTemplate, ReadsIdsAndHeader) {
    pev::test::TestArchive archive;
    archive.unread_fill = 0x5A;
    archive.entries = {pev::test::delta_entry(42, {0x21}), pev::test::delta_entry(7, {0x21})};
    const Bytes bytes = pev::test::build_archive(archive);
    const pev::archive::MemorySource source(bytes);
    const pev::archive::ArchiveReader reader(source);
    const pev::archive::ArchiveTemplate kept = pev::archive::template_of(reader);
    EXPECT_EQ(kept.entry_ids, (std::vector<std::uint16_t>{42, 7}));
    EXPECT_TRUE(std::equal(kept.header.begin(), kept.header.end(), bytes.begin()));
}

} // namespace
