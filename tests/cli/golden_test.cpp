// Runs the built Pev2wav as a process on prepared archives and compares what
// it printed on each stream, its exit status, and every file it left behind
// (names, sizes, checksums) with the golden files in tests/cli/golden/<case>/
// (see support/golden.hpp and support/golden_runner.hpp).
//
// PEV_TEST_PEV2WAV   the executable under test (default: the one just built)

#include "support/golden.hpp"
#include "support/golden_runner.hpp"
#include "support/sample_archives.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

namespace fs = std::filesystem;

std::string program_under_test() {
    const char* chosen = std::getenv("PEV_TEST_PEV2WAV");
    return chosen != nullptr ? chosen : PEV_BINARY_DIR "/Pev2wav";
}

// Two of these as directories make a base name of over 260 characters.
const std::string kLongDirectory(200, 'd');

std::vector<GoldenCase> golden_cases() {
    const auto three = [](const std::string& name) {
        return [name](const TempDir& dir) { put(dir, name, three_clip_archive()); };
    };
    std::vector<GoldenCase> cases = {
        {"no_argument", {}, nullptr},
        {"missing_archive", {"B"}, nullptr},
        {"three_clips", {"B"}, three("B.pev")},
        {"extra_arguments_ignored", {"B", "C", "--help"}, three("B.pev")},
        {"extension_typed_twice", {"B.pev"}, three("B.pev")},
        {"wildcard_not_expanded", {"*"}, three("B.pev")},
        {"base_name_with_directory",
         {"sub/B"},
         [](const TempDir& dir) {
             fs::create_directory(dir.path() / "sub");
             put(dir, "sub/B.pev", three_clip_archive());
         }},
        {"base_name_with_blanks", {"my clips"}, three("my clips.pev")},
        {"base_name_longer_than_260",
         {kLongDirectory + "/" + kLongDirectory + "/B"},
         [](const TempDir& dir) {
             fs::create_directories(dir.path() / kLongDirectory / kLongDirectory);
             put(dir, kLongDirectory + "/" + kLongDirectory + "/B.pev", three_clip_archive());
         }},
        {"numbered_by_position_not_id",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive;
             archive.entries = {delta_entry(500, {0x21}), delta_entry(7, {0x43})};
             put(dir, "B.pev", archive);
         }},
        {"stored_rate_zero",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = single_clip_archive(delta_entry(1, {0x21}));
             archive.samples_per_sec = 0;
             put(dir, "B.pev", archive);
         }},
        {"rate_passed_on",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = single_clip_archive(delta_entry(1, {0x21}));
             archive.samples_per_sec = 44100;
             put(dir, "B.pev", archive);
         }},
        {"header_junk_ignored",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.unread_fill = 0xA5;
             put(dir, "B.pev", archive);
         }},
        {"existing_output_overwritten",
         {"B"},
         [](const TempDir& dir) {
             put(dir, "B.pev", three_clip_archive());
             write_file(dir.file("B_0002.wav"), std::vector<std::uint8_t>(5000, 0x55));
         }},
        // A full disk: the file that does not fit is not left cut short, and
        // the good file it was to replace stays as it was.
        {"write_fails_keeps_the_old_file",
         {"B"},
         [](const TempDir& dir) {
             put(dir, "B.pev", three_clip_archive());
             write_file(dir.file("B_0001.wav"), std::vector<std::uint8_t>(5000, 0x55));
         },
         0,
         false,
         1,
         [](const TempDir& dir) {
             EXPECT_EQ(read_file(dir.file("B_0001.wav")), std::vector<std::uint8_t>(5000, 0x55));
         }},
        {"empty_archive", {"B"}, [](const TempDir& dir) { put(dir, "B.pev", TestArchive{}); }},
        {"negative_count",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.wave_file_count = -3;
             put(dir, "B.pev", archive);
         }},
        {"count_9999_accepted_then_table_short",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.wave_file_count = 9999;
             put(dir, "B.pev", archive);
         }},
        {"count_10000_refused",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.wave_file_count = 10000;
             put(dir, "B.pev", archive);
         }},
        {"magic_letter_case",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.magic = {'P', 'E', 'V', 'P', 'A', 'c'};
             put(dir, "B.pev", archive);
         }},
        {"file_shorter_than_header",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.truncate_to = 31;
             put(dir, "B.pev", archive);
         }},
        {"entry_table_cut_short",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.truncate_to = 32 + 8 * 2 + 4;
             put(dir, "B.pev", archive);
         }},
        {"room_exactly_enough_trailing_bytes",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.trailing = {1, 2, 3, 4, 5};
             put(dir, "B.pev", archive);
         }},
        {"compressed_total_exactly_the_room",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             // The room counts the entry's size table too: 4 more bytes fit,
             // taken from the start of the next entry.
             archive.entries[1].block_sizes = {1024, 4};
             put(dir, "B.pev", archive);
         }},
        {"one_byte_more_than_room",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.entries[1].block_sizes = {1024, 5};
             put(dir, "B.pev", archive);
         }},
        {"last_entry_past_end_of_file",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.entries[2].block_sizes = {3, 3};
             put(dir, "B.pev", archive);
         }},
        {"room_wraps_when_next_offset_is_lower",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             // The third row points back at the first entry's data: the
             // second entry's room wraps and its size check passes.
             archive.entries[2].data_offset = 32 + 8 * 3;
             put(dir, "B.pev", archive);
         }},
        {"wrapped_room_past_end_of_file",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive;
             TestEntry big = delta_entry(40, {0x21});
             big.block_sizes = {30000};
             TestEntry early = delta_entry(41, {0x43});
             early.data_offset = 32;
             archive.entries = {big, early};
             put(dir, "B.pev", archive);
         }},
        {"block_size_with_bit_15",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = three_clip_archive();
             archive.entries[1].block_sizes = {1024, -2};
             archive.entries[1].bytes.resize(1024 + 2);
             put(dir, "B.pev", archive);
         }},
        {"data_offset_past_end_of_file",
         {"B"},
         [](const TempDir& dir) {
             TestArchive archive = single_clip_archive(silent_entry(3, 0));
             archive.entries[0].data_offset = 0x80000000u;
             put(dir, "B.pev", archive);
         }},
        {"block_table_past_end_of_file",
         {"B"},
         [](const TempDir& dir) {
             // 40 bytes: one row claiming 65535 blocks whose size table
             // would start where the file ends.
             TestEntry entry = silent_entry(7, 0);
             entry.block_count = 65535;
             put(dir, "B.pev", single_clip_archive(entry));
         }},
        {"data_offset_beyond_2_gib",
         {"B"},
         [](const TempDir& dir) {
             // A sparse file whose only entry lies just past 2 GiB: the
             // offset is unsigned, never a negative seek.
             TestArchive archive = single_clip_archive(delta_entry(3, {0x21, 0x43}));
             archive.entries[0].data_offset = 0x80000000u;
             put(dir, "B.pev", archive);
             std::fstream file(dir.file("B.pev"), std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(0x80000000LL);
             const char entry_data[] = {2, 0, 0x21, 0x43};
             file.write(entry_data, sizeof entry_data);
         }},
        {"no_blocks_gives_empty_wav",
         {"B"},
         [](const TempDir& dir) { put(dir, "B.pev", single_clip_archive(silent_entry(3, 0))); }},
        {"silent_blocks_only",
         {"B"},
         [](const TempDir& dir) { put(dir, "B.pev", single_clip_archive(silent_entry(3, 3))); }},
        {"truncated_entry_reads_zeros",
         {"B"},
         [](const TempDir& dir) {
             // The compressed bytes end two bytes early, yet lie within the
             // file's size as counted from the data offset, so the checks
             // pass; the missing bytes read as 0.
             TestArchive archive = single_clip_archive(delta_entry(9, {0x21, 0x43, 0x65}));
             archive.truncate_to = 32 + 8 + 3;
             put(dir, "B.pev", archive);
         }},
        {"output_cannot_be_created",
         {"B"},
         [](const TempDir& dir) {
             put(dir, "B.pev", three_clip_archive());
             fs::create_directory(dir.path() / "B_0002.wav");
         }},
        {"buffer_cannot_be_had",
         {"B"},
         [](const TempDir& dir) {
             // 65535 silent blocks want a 128 MiB sample buffer; the process
             // may have 64 MiB of address space in all.
             put(dir, "B.pev", single_clip_archive(silent_entry(5, 65535)));
         },
         64 * 1024},
        {"full_disk_reported",
         {"B"},
         [](const TempDir& dir) {
             put(dir, "B.pev", three_clip_archive());
             fs::create_symlink("/dev/full", dir.path() / "B_0002.wav");
         }},
    };
    return cases;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, OutputMatches) {
    run_golden_case(GetParam(), program_under_test(),
                    fs::path(PEV_SOURCE_DIR) / "tests/cli/golden");
}

// A failing case says where an output file differs from what was expected.
TEST(GoldenDifference, SaysTheByteAndTheWavFieldOrSample) {
    const auto wav = [](std::uint32_t rate, std::vector<std::uint8_t> data) {
        std::vector<std::uint8_t> bytes = {'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'A', 'V', 'E',
                                           'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   1,   0};
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<std::uint8_t>(rate >> shift));
        }
        bytes.resize(36);
        bytes.insert(bytes.end(), {'d', 'a', 't', 'a', 4, 0, 0, 0});
        bytes.insert(bytes.end(), data.begin(), data.end());
        return bytes;
    };
    const auto base = wav(8000, {1, 2, 3, 4});
    struct Case {
        std::vector<std::uint8_t> actual;
        const char* says;
    };
    const Case cases[] = {
        {wav(8001, {1, 2, 3, 4}),
         "B.wav: first difference at byte 24 (sample rate): expected 0x40, got 0x41; expected 48 "
         "bytes, got 48"},
        {wav(8000, {1, 2, 3, 5}),
         "B.wav: first difference at byte 47 (sample 1): expected 0x04, got 0x05; expected 48 "
         "bytes, got 48"},
        {wav(8000, {1, 2}), "B.wav: the first 46 bytes agree, then the written file ends at byte "
                            "46 (sample 1); expected 48 bytes, got 46"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe_difference("B.wav", base, c.actual), c.says);
    }
}

INSTANTIATE_TEST_SUITE_P(Pev2wav, Golden, ::testing::ValuesIn(golden_cases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace pev::test
