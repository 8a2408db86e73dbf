// Hostile archives must not make the extraction ask for memory out of
// proportion to the file: the compressed buffer never exceeds the archive's
// size, each sample buffer never exceeds its entry's sample bound, and an
// entry that is refused gets no buffer at all.

#include "cli/pev2wav_extract.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pev::test {
namespace {

struct Extraction {
    int result = 0;
    std::uint64_t archive_size = 0;
    extraction::ExtractStats stats;
};

// Extracts the archive at `path` with every output going to a scratch file
// that is dropped at once, and the console to scratch files too.
Extraction extract_file(const std::string& path, unsigned threads = 0) {
    Extraction run;
    run.archive_size = std::filesystem::file_size(path);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr);
    std::FILE* console = std::tmpfile();
    cli::ExtractOptions options;
    options.out = console;
    options.err = console;
    options.create_output = [](const std::string&) { return std::tmpfile(); };
    options.threads = threads;
    run.result = cli::extract_archive("hostile", file, options, &run.stats);
    std::fclose(console);
    std::fclose(file);
    return run;
}

TestEntry entry_of(std::uint16_t id, std::vector<std::int16_t> sizes, std::size_t byte_count) {
    TestEntry entry;
    entry.id = id;
    entry.block_sizes = std::move(sizes);
    entry.bytes.assign(byte_count, 0x11);
    return entry;
}

struct BoundCase {
    const char* name;
    TestArchive archive;
    int result;
    std::size_t compressed_bytes;    // the largest compressed buffer taken
    std::size_t sample_buffer_bytes; // the largest sample buffer taken
};

std::vector<BoundCase> bound_cases() {
    std::vector<BoundCase> cases;
    {
        TestArchive a;
        a.entries = {entry_of(1, {30000}, 10)};
        cases.push_back({"sizes_claim_more_than_the_file", a, -1, 0, 0});
    }
    {
        // The second row's offset is below the first's, so the first entry's
        // room wraps to about 4 GiB; the file's end still refuses it.
        TestArchive a;
        a.entries = {entry_of(1, {20000}, 8), entry_of(2, {2}, 2)};
        a.entries[1].data_offset = 40;
        cases.push_back({"wrapped_room_beyond_the_file", a, -1, 0, 0});
    }
    {
        TestArchive a;
        a.entries = {entry_of(1, {4}, 4), entry_of(2, {32767, 32767}, 16)};
        cases.push_back({"refused_after_a_good_entry_keeps_its_buffers", a, -1, 4, 2 * 8});
    }
    {
        TestArchive a;
        a.entries = {entry_of(1, {1024}, 1024), entry_of(2, {-32768, 100}, 100)};
        cases.push_back({"bit15_size_is_refused_before_buffers", a, -1, 1024, 2 * 1024});
    }
    {
        // The stored sizes lie beyond the end: read as 0 they would be
        // 200 silent blocks made of nothing.
        TestArchive a;
        a.entries = {entry_of(1, {}, 0)};
        a.entries[0].block_count = 200;
        cases.push_back({"block_table_beyond_the_end_is_refused", a, -1, 0, 0});
    }
    {
        TestArchive a;
        a.entries = {entry_of(1, {0, 1024, 30}, 1054), entry_of(2, {10}, 10)};
        a.truncate_to = 32 + 16 + 6 + 500;
        cases.push_back({"truncated_entry_is_refused", a, -1, 0, 0});
    }
    {
        // The second row points into the entry table itself (its own row
        // reads as one delta block of 2 bytes); that lower offset also
        // wraps the first entry's room. Each entry is bounded by its own sizes.
        TestArchive a;
        a.entries = {entry_of(1, {64, 0}, 64), entry_of(2, {}, 0)};
        a.entries[1].block_count = 1;
        a.entries[1].data_offset = 40;
        cases.push_back({"row_pointing_into_the_table", a, 2, 64, 2 * (128 + 1024)});
    }
    return cases;
}

void PrintTo(const BoundCase& c, std::ostream* os) {
    *os << c.name;
}

class ResourceBounds : public testing::TestWithParam<BoundCase> {};

TEST_P(ResourceBounds, BuffersStayWithinTheFileAndTheEntryBound) {
    const BoundCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.file("hostile.pev");
    write_file(path, build_archive(c.archive));
    // Decoding ahead takes no more than one thread does: nothing past a
    // refused entry is read.
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        const Extraction run = extract_file(path, threads);
        EXPECT_EQ(run.result, c.result);
        EXPECT_LE(run.stats.largest_compressed_bytes, run.archive_size);
        EXPECT_EQ(run.stats.largest_compressed_bytes, c.compressed_bytes);
        EXPECT_EQ(run.stats.largest_sample_buffer_bytes, c.sample_buffer_bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Hostile, ResourceBounds, testing::ValuesIn(bound_cases()),
                         [](const testing::TestParamInfo<BoundCase>& info) {
                             return std::string(info.param.name);
                         });

// 40 bytes whose one entry claims 65535 blocks from the end of the file on:
// refused before even its size table gets a buffer.
TEST(ResourceBoundsLarge, BlockTableAtTheEndOfTheFileTakesNoBuffer) {
    TestArchive a;
    a.entries = {entry_of(1, {}, 0)};
    a.entries[0].block_count = 65535;
    TempDir dir;
    const std::string path = dir.file("forty.pev");
    write_file(path, build_archive(a));
    const Extraction run = extract_file(path);
    EXPECT_EQ(run.archive_size, 40u);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.stats.largest_size_table_bytes, 0u);
    EXPECT_EQ(run.stats.largest_compressed_bytes, 0u);
    EXPECT_EQ(run.stats.largest_sample_buffer_bytes, 0u);
}

// An entry whose samples would not fit a WAV file's 32-bit sizes is refused
// before its buffers: taking them would mean gigabytes. The stored bytes are
// really "there" (the file is grown sparsely to 1 GiB and a bit), so only the
// WAV size check stands between the entry and its buffers.
TEST(ResourceBoundsLarge, EntryTooLargeForAWavIsRefusedBeforeBuffers) {
    TestArchive a;
    TestEntry entry = entry_of(1, std::vector<std::int16_t>(32770, 32767), 0);
    a.entries = {entry};
    TempDir dir;
    const std::string path = dir.file("huge.pev");
    write_file(path, build_archive(a));
    std::filesystem::resize_file(path, std::uint64_t{32770} * 32767 + 70000);
    const Extraction run = extract_file(path);
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.stats.largest_compressed_bytes, 0u);
    EXPECT_EQ(run.stats.largest_sample_buffer_bytes, 0u);
}

} // namespace
} // namespace pev::test
