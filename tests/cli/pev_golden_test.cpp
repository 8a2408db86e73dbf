// Runs the built pev as a process on prepared archives and compares what it
// printed, its exit status and every file it left behind with the golden
// files in tests/cli/pev_golden/<case>/ (see support/golden_runner.hpp).
//
// PEV_TEST_PEV   the executable under test (default: the one just built)

#include "support/golden_runner.hpp"
#include "support/process.hpp"
#if PEV_TEST_HAS_SOUND
#include "support/recordings.hpp"

#include <sndfile.h>
#endif
#include "support/packed_clips.hpp"
#include "support/sample_archives.hpp"
#include "support/speech_like.hpp"
#include "support/wav_builder.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace pev::test {
namespace {

namespace fs = std::filesystem;

std::string program_under_test() {
    const char* chosen = std::getenv("PEV_TEST_PEV");
    return chosen != nullptr ? chosen : PEV_BINARY_DIR "/pev";
}

// Whether the pev under test reads and writes sound files: as this build's
// does, unless PEV_TEST_SOUND says (0 or 1) for another build's.
bool pev_has_sound() {
    const char* told = std::getenv("PEV_TEST_SOUND");
    return told != nullptr ? std::string(told) == "1" : PEV_TEST_HAS_SOUND != 0;
}

GoldenCase needing(SoundSupport sound, GoldenCase golden) {
    golden.sound = sound;
    return golden;
}

// Whether the pev under test measures loudness: as this build's does,
// unless PEV_TEST_LOUDNESS says (0 or 1) for another build's.
bool pev_has_loudness() {
    const char* told = std::getenv("PEV_TEST_LOUDNESS");
    return told != nullptr ? std::string(told) == "1" : PEV_TEST_HAS_LOUDNESS != 0;
}

GoldenCase needing(LoudnessSupport loudness, GoldenCase golden) {
    golden.loudness = loudness;
    return golden;
}

// Two sound clips among one of each kind that cannot be extracted, in
// table order:
//   1 sound, 2 a block size with bit 15, 3 a block-size table past the end
//   of the file, 4 bytes past its room, 5 sound,
//   6 bytes past the end of the file (its room wraps: the next row points
//   back into the table), 7 no blocks, read from there.
TestArchive damaged_archive() {
    TestArchive archive = three_clip_archive();
    TestEntry malformed = raw_ramp_entry(21);
    malformed.block_sizes = {1024, -2};
    malformed.bytes.resize(1024 + 2);
    TestEntry past_room = raw_ramp_entry(22);
    past_room.block_sizes = {1024, 5};
    TestEntry table_past_end = silent_entry(23, 3);
    table_past_end.data_offset = 0x7FFFFFF0;
    TestEntry past_end = delta_entry(25, {0x21});
    past_end.block_sizes = {30000};
    TestEntry wrapped = silent_entry(26, 0);
    wrapped.data_offset = 32;
    archive.entries = {archive.entries[0], malformed,           table_past_end, past_room,
                       archive.entries[1], std::move(past_end), wrapped};
    return archive;
}

// One clip whose samples no WAV file's 32-bit sizes can describe: 65535
// delta blocks of 32767 bytes, in a sparse file of 2 GiB.
void put_too_long_clip(const TempDir& dir, const std::string& name) {
    TestEntry entry;
    entry.id = 9;
    entry.block_sizes.assign(65535, 32767);
    put(dir, name, single_clip_archive(entry));
    const std::uint64_t size = 32 + 8 + 2 * 65535 + 65535ULL * 32767;
    fs::resize_file(dir.path() / name, size);
}

TestArchive with_header(std::int32_t count, std::size_t truncate_to = 0) {
    TestArchive archive = three_clip_archive();
    archive.wave_file_count = count;
    if (truncate_to != 0) {
        archive.truncate_to = truncate_to;
    }
    return archive;
}

using Setup = std::function<void(const TempDir&)>;

Setup archive_as(const std::string& name, const TestArchive& archive) {
    return [=](const TempDir& dir) {
        const fs::path folder = fs::path(name).parent_path();
        if (!folder.empty()) {
            fs::create_directories(dir.path() / folder);
        }
        put(dir, name, archive);
    };
}

Setup three(const std::string& name = "B.pev") {
    return archive_as(name, three_clip_archive());
}

Setup damaged(const std::string& name = "D.pev") {
    return archive_as(name, damaged_archive());
}

// `setup`, then a file or a folder of `name` in the way.
Setup with_file(Setup setup, const std::string& name, bool folder = false) {
    return [=](const TempDir& dir) {
        setup(dir);
        if (folder) {
            fs::create_directories(dir.path() / name);
        } else {
            write_file(dir.file(name), std::vector<std::uint8_t>(100, 0x55));
        }
    };
}

// WAV files of noise at 8000 Hz, 100 samples more each.
Setup wav_files(std::vector<std::string> names, Setup also = nullptr) {
    return [=](const TempDir& dir) {
        std::size_t count = 600;
        for (const std::string& name : names) {
            const fs::path folder = fs::path(name).parent_path();
            if (!folder.empty()) {
                fs::create_directories(dir.path() / folder);
            }
            write_file(dir.file(name), wav_file_bytes(noise(count, unsigned(count)), 8000));
            count += 100;
        }
        if (also) {
            also(dir);
        }
    };
}

// A WAV file of noise at the three-clip archive's rate, 22050 Hz (or `rate`).
Setup wav_at(const std::string& name, Setup also, std::uint32_t rate = 22050) {
    return [=](const TempDir& dir) {
        write_file(dir.file(name), wav_file_bytes(noise(900, 9), rate));
        also(dir);
    };
}

#if PEV_TEST_HAS_SOUND
// A recording made by libsndfile, then `also`.
Setup recording(const std::string& name, int format, const Signal& signal, Setup also = nullptr) {
    return [=](const TempDir& dir) {
        write_recording(dir.file(name), format, signal);
        if (also) {
            also(dir);
        }
    };
}

// The cases only a pev that reads other sound files has: their inputs are
// made with libsndfile. None resamples, so the archives are the same
// whatever the host's libsoxr does with its last bits.
std::vector<GoldenCase> sound_file_cases() {
    const Signal stereo = noise_signal(8000, 2, 1500, 5);
    const Signal deep = tone(8000, 1, 0.2, 440);
    return {
        {"pack_sound_files",
         {"pack", "P", "a.flac", "b.wav", "c.aiff", "-v"},
         recording(
             "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, stereo,
             wav_files({"b.wav"}, recording("c.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, deep)))},
        {"pack_folder_of_sound_files",
         {"pack", "P", "in"},
         wav_files({"in/b.wav", "in/notes.txt"},
                   recording("in/a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, stereo))},
        {"pack_mixed_rates",
         {"pack", "P", "a.wav", "b.flac"},
         recording("b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, tone(22050, 1, 0.1, 300),
                   wav_files({"a.wav"}))},
    };
}
#endif

// Re-voicing: V.pev holds four speech-like clips at 22050 Hz (2 s, a quiet
// 1.5 s, 0.3 s too short for the gate, 1 s of silence); new/ holds new
// recordings named as extract names them: clip 1 louder, clip 2 a third
// longer, clip 3 a sixth shorter, and a note that is no recording; beside
// them a quiet recording with one loud sample.
std::vector<std::int16_t> line(double seconds, double peak, unsigned seed) {
    return speech_like({.rate = 22050, .seconds = seconds, .peak = peak, .seed = seed});
}

Setup voices(Setup also = nullptr) {
    return [=](const TempDir& dir) {
        write_file(dir.file("V.pev"),
                   packed_archive({line(2.0, 0.3, 1), line(1.5, 0.05, 2), line(0.3, 0.2, 3),
                                   std::vector<std::int16_t>(22050, 0)},
                                  22050));
        fs::create_directories(dir.path() / "new");
        write_file(dir.file("new/V_0001.wav"), wav_file_bytes(line(2.1, 0.6, 11), 22050));
        write_file(dir.file("new/V_0002.wav"), wav_file_bytes(line(2.0, 0.3, 12), 22050));
        write_file(dir.file("new/V_0003.wav"), wav_file_bytes(line(0.25, 0.05, 13), 22050));
        // Quiet, but for one sample: matching would clip it.
        std::vector<std::int16_t> spiky = line(2.0, 0.02, 14);
        spiky[1000] = 16000;
        write_file(dir.file("spiky.wav"), wav_file_bytes(spiky, 22050));
        write_file(dir.file("new/notes.txt"), {'h', 'i', '\n'});
        if (also) {
            also(dir);
        }
    };
}

// `setup`, then a WAV file of speech at `name`.
Setup with_line(Setup setup, const std::string& name, double seconds = 1.0) {
    return [=](const TempDir& dir) {
        if (setup) {
            setup(dir);
        }
        const fs::path folder = fs::path(name).parent_path();
        if (!folder.empty()) {
            fs::create_directories(dir.path() / folder);
        }
        write_file(dir.file(name), wav_file_bytes(line(seconds, 0.2, 21), 22050));
    };
}

// V.pev as voices() made it.
std::function<void(const TempDir&)> voices_unchanged() {
    return [](const TempDir& dir) {
        const TempDir fresh;
        voices()(fresh);
        EXPECT_EQ(read_file(dir.file("V.pev")), read_file(fresh.file("V.pev")));
    };
}

GoldenCase unchanged(GoldenCase golden) {
    golden.after = voices_unchanged();
    return golden;
}

// An archive rewritten in place is an input, which the listing leaves out:
// it must hold what replace_into_new_archive wrote (its clip 2 replaced).
std::function<void(const TempDir&)> holds_clip_2_replaced(const std::string& name) {
    return [=](const TempDir& dir) {
        const fs::path written =
            fs::path(PEV_SOURCE_DIR) / "tests/cli/pev_golden/output_bytes" / "94e7c6af024c37b7";
        EXPECT_EQ(read_file(dir.file(name)), read_file(written.string())) << name;
    };
}

std::vector<GoldenCase> golden_cases() {
    TestArchive rate_zero = three_clip_archive();
    rate_zero.samples_per_sec = 0;
    TestArchive bad_magic = three_clip_archive();
    bad_magic.magic = {'P', 'E', 'V', 'P', 'A', 'c'};
    return {
        // The command line.
        {"no_arguments", {}, nullptr},
        {"help", {"--help"}, nullptr},
        {"help_of_a_command", {"help", "extract"}, nullptr},
        {"help_of_mount", {"help", "mount"}, nullptr},
        {"mount_without_folder", {"mount", "B"}, three()},
        {"command_help_option", {"list", "--help"}, nullptr},
        {"help_of_an_unknown_command", {"help", "frobnicate"}, nullptr},
        {"version", {"--version"}, nullptr},
        {"unknown_option", {"list", "B", "--bogus"}, three()},
        {"missing_argument", {"cat", "B"}, three()},
        {"two_archives_without_command",
         {"B", "C", "sub/B"},
         [](const TempDir& dir) {
             three()(dir);
             three("sub/B.pev")(dir);
         }},
        // A first word that names no file and looks like a command is a
        // mistyped command: nothing is extracted. With an extension it is an
        // archive that is missing, and the others are extracted.
        {"mistyped_command_extracts_nothing", {"lsit", "B"}, three()},
        {"missing_first_archive_with_extension", {"lsit.pev", "B"}, three()},
        // Memory that cannot be had ends the run with a line and status 1.
        {.name = "out_of_memory_fails",
         .args = {"extract", "-"},
         .setup =
             [](const TempDir& dir) {
                 write_file(dir.file("zeros"), {});
                 fs::resize_file(dir.file("zeros"), 70u << 20); // sparse: no disk taken
             },
         .memory_limit_kb = 64u << 10,
         .stdin_file = "zeros"},
        // One word alone is an archive, even one close to a command.
        {"one_missing_archive_is_not_a_command", {"talks"}, three()},
        {"one_word_near_a_command_is_an_archive", {"lsit"}, three()},
        {"bare_two_archives_into_folder",
         {"-o", "out", "B", "sub/C"},
         [](const TempDir& dir) {
             three()(dir);
             three("sub/C.pev")(dir);
         }},
        {"help_alone", {"help"}, nullptr},
        {"unknown_option_without_command", {"--bogus"}, nullptr},
        {"bare_unknown_option", {"B", "--bogus"}, three()},
        {"bare_archive_with_options", {"B", "-o", "out", "--force", "-v"}, three()},
        {"bare_option_before_command", {"-q", "list", "B"}, three()},
        // list
        {"list", {"list", "B"}, three()},
        {"list_json", {"list", "--json", "B"}, three()},
        {"list_damaged", {"list", "D"}, damaged()},
        {"list_damaged_json", {"list", "D.pev", "--json"}, damaged()},
        {"list_stored_rate_zero", {"list", "B"}, archive_as("B.pev", rate_zero)},
        {"list_some_clips", {"list", "D", "-c", "4-,1"}, damaged()},
        {"test_some_clips", {"test", "D", "-c", "-1,5"}, damaged()},
        {"list_by_id", {"list", "D", "--id", "20-22, 11"}, damaged()},
        {"extract_by_id", {"extract", "B", "--id", "12,-10"}, three()},
        {"extract_by_missing_id", {"extract", "B", "--id", "10,13-"}, three()},
        {"extract_by_id_and_position", {"extract", "B", "--id", "10", "-c", "1"}, three()},
        {"test_clip_list_unreadable", {"test", "B", "-c", "2-x"}, three()},
        {"list_stored_rate_zero_json", {"list", "B", "--json"}, archive_as("B.pev", rate_zero)},
        {"list_over_a_minute",
         {"list", "L"},
         archive_as("L.pev", single_clip_archive(silent_entry(7, 4000)))},
        {"list_two_archives",
         {"list", "B", "E"},
         [](const TempDir& dir) {
             three()(dir);
             archive_as("E.pev", TestArchive{})(dir);
         }},
        {"list_json_two_archives_one_missing",
         {"list", "--json", "E", "gone", "E"},
         archive_as("E.pev", TestArchive{})},
        {"test_two_archives_one_damaged",
         {"test", "D", "B"},
         [](const TempDir& dir) {
             three()(dir);
             damaged()(dir);
         }},
        {"list_standard_input", {"list", "-"}, three(), 0, false, 0, nullptr, "B.pev"},
        {"extract_standard_input",
         {"extract", "-", "-c", "2"},
         three(),
         0,
         false,
         0,
         nullptr,
         "B.pev"},
        // Past what standard input may take in memory: it goes on into a
        // temporary file, and the clips come out the same.
        {"extract_standard_input_long",
         {"extract", "-"},
         [](const TempDir& dir) {
             three()(dir);
             fs::resize_file(dir.path() / "B.pev", 65 << 20);
         },
         0,
         false,
         0,
         nullptr,
         "B.pev"},
        {"test_standard_input_empty", {"test", "-"}, nullptr},
        {"list_empty_archive", {"list", "E", "--json"}, archive_as("E.pev", TestArchive{})},
        // test, and each way a whole archive is refused
        {"test_sound", {"test", "B"}, three()},
        {"test_damaged", {"test", "D"}, damaged()},
        {"test_json_damaged_and_sound",
         {"test", "--json", "D", "B"},
         [](const TempDir& dir) {
             three()(dir);
             damaged()(dir);
         }},
        {"test_last_clip_cut_short", {"test", "B"}, archive_as("B.pev", with_header(3, 1094))},
        {"test_too_long_for_wav",
         {"test", "L"},
         [](const TempDir& dir) { put_too_long_clip(dir, "L.pev"); }},
        {"test_missing_archive", {"test", "B"}, nullptr},
        {"test_folder", {"test", "F"}, with_file(three(), "F", true)},
        {"test_not_an_archive", {"test", "B"}, archive_as("B.pev", bad_magic)},
        {"test_shorter_than_header", {"test", "B"}, archive_as("B.pev", with_header(3, 31))},
        {"test_too_many_clips", {"test", "B"}, archive_as("B.pev", with_header(10000))},
        {"test_negative_count", {"test", "B"}, archive_as("B.pev", with_header(-3))},
        {"test_table_cut_short", {"test", "B"}, archive_as("B.pev", with_header(9999))},
        // extract
        {"extract", {"extract", "B"}, three()},
        {"extract_beside_archive", {"extract", "sub/B"}, three("sub/B.pev")},
        {"extract_name_with_extension", {"extract", "sub/B.pev"}, three("sub/B.pev")},
        // The longest names Pev2wav writes: 240 + "_0001.wav" = 249 bytes,
        // never lengthened by a temporary suffix.
        {"extract_240_character_base_name",
         {"extract", std::string(240, 'v')},
         three(std::string(240, 'v') + ".pev")},
        {"extract_into_new_folder", {"extract", "B", "-o", "out/new"}, three()},
        {"extract_some_clips", {"extract", "B", "-c", "3, 1-1,3"}, three()},
        {"extract_open_ranges", {"extract", "B", "-c", "3-, -1"}, three()},
        {"extract_one_clip_fails", {"extract", "D", "-c", "2"}, damaged()},
        {"extract_capital_extension", {"extract", "DEMO"}, three("DEMO.PEV")},
        {"pack_capital_extension", {"pack", "OUT.PEV", "a.wav"}, wav_files({"a.wav"})},
        {"extract_clip_list_unreadable", {"extract", "B", "-c", "1,x"}, three()},
        {"extract_clip_out_of_range", {"extract", "B", "-c", "2-5"}, three()},
        {"extract_name_template", {"extract", "B", "--name", "{base}-{id}-{n}.wav"}, three()},
        {"extract_name_template_unknown", {"extract", "B", "--name", "{name}.wav"}, three()},
        {"extract_name_template_folder", {"extract", "B", "--name", "a/{n}.wav"}, three()},
        {"extract_name_template_control_character",
         {"extract", "B", "--name", "{n}\n.wav"},
         three()},
        {"extract_over_the_archive_itself",
         {"extract", "B", "-c", "1", "--name", "{base}.pev", "--force"},
         three(),
         0,
         false,
         0,
         [](const TempDir& dir) {
             EXPECT_EQ(read_file(dir.file("B.pev")), build_archive(three_clip_archive()));
         }},
        {"extract_names_collide", {"extract", "B", "--name", "same.wav"}, three()},
        {"extract_existing_file_refused", {"extract", "B"}, with_file(three(), "B_0002.wav")},
        // A link to nothing is a name taken all the same: refused before any
        // file is written.
        {"extract_dangling_link_refused",
         {"extract", "B"},
         [](const TempDir& dir) {
             three()(dir);
             fs::create_symlink("gone.wav", dir.path() / "B_0002.wav");
         },
         0,
         false,
         0,
         nullptr,
         "/dev/null",
         true},
        {"extract_existing_file_forced",
         {"extract", "B", "--force"},
         with_file(three(), "B_0002.wav")},
        {"extract_skip_existing", {"extract", "B", "-n"}, with_file(three(), "B_0002.wav")},
        {"extract_skip_existing_and_force",
         {"extract", "B", "-n", "--force"},
         with_file(three(), "B_0002.wav")},
        {"extract_dry_run", {"extract", "B", "--dry-run"}, with_file(three(), "B_0002.wav")},
        {"extract_dry_run_skipping",
         {"extract", "B", "--dry-run", "--skip-existing", "-c", "2-3"},
         with_file(three(), "B_0002.wav")},
        {"bare_skip_existing", {"B", "-n"}, with_file(three(), "B_0001.wav")},
        {"extract_damaged", {"extract", "D"}, damaged()},
        {"extract_quiet", {"extract", "-q", "B"}, three()},
        {"extract_verbose", {"extract", "B", "--verbose"}, three()},
        {"extract_quiet_and_verbose", {"extract", "B", "-q", "-v"}, three()},
        {"extract_folder_cannot_be_made", {"extract", "B", "-o", "F/G"}, with_file(three(), "F")},
        {"extract_folder_in_the_way",
         {"extract", "B", "--force"},
         with_file(three(), "B_0002.wav", true)},
        {"extract_empty_archive", {"extract", "E"}, archive_as("E.pev", TestArchive{})},
        {"extract_not_an_archive", {"extract", "B"}, archive_as("B.pev", bad_magic)},
        // No command: what a double-click or a dropped file runs.
        {"bare_archive", {"B"}, three()},
        {"bare_archive_with_extension", {"sub/B.pev"}, three("sub/B.pev")},
        {"bare_name_as_given", {"voices"}, three("voices")},
        {"bare_damaged", {"D"}, damaged()},
        // cat
        {"cat", {"cat", "B", "2"}, three(), 0, true},
        {"cat_out_of_range", {"cat", "B", "4"}, three()},
        {"cat_zero", {"cat", "B", "0"}, three()},
        {"cat_not_a_number", {"cat", "B", "x"}, three()},
        {"cat_refused_clip", {"cat", "D", "2"}, damaged()},
        {"cat_last_clip", {"cat", "B", "3"}, three(), 0, true},
        {"cat_blank_around_number", {"cat", "B", " 2"}, three(), 0, true},
        {"cat_number_too_large", {"cat", "B", "99999999999999999999"}, three()},
        // pack
        {"pack_files", {"pack", "P", "b.wav", "a.wav"}, wav_files({"a.wav", "b.wav"})},
        {"pack_folder_in_name_order",
         {"pack", "P.pev", "in", "x.wav"},
         wav_files({"in/b.wav", "in/a.wav", "in/C.WAV", "x.wav"})},
        {"pack_folder_as_people_sort",
         {"pack", "P.pev", "in"},
         wav_files({"in/clip10.wav", "in/clip9.wav", "in/B.wav", "in/a.wav", "in/.hidden.wav"})},
        {"pack_input_twice", {"pack", "P", "in", "in/a.wav"}, wav_files({"in/a.wav", "in/b.wav"})},
        {"pack_output_named_wav", {"pack", "x.wav", "a.wav"}, wav_files({"a.wav", "x.wav"})},
        {"pack_into_new_folder", {"pack", "new/sub/P", "a.wav"}, wav_files({"a.wav"})},
        {"pack_like",
         {"pack", "P", "a.wav", "b.wav", "c.wav", "--like", "B"},
         wav_files({"a.wav", "b.wav", "c.wav"}, three())},
        {"pack_like_of_one_clip",
         {"pack", "P", "a.wav", "b.wav", "--like", "one"},
         wav_files({"a.wav", "b.wav"},
                   archive_as("one.pev", single_clip_archive(silent_entry(4, 2))))},
        {"pack_riff_cut_short",
         {"pack", "P", "r.wav"},
         [](const TempDir& dir) {
             write_file(dir.file("r.wav"), {'R', 'I', 'F', 'F'});
         }},
        {"pack_like_of_other_size",
         {"pack", "P", "a.wav", "--like", "B"},
         wav_files({"a.wav"}, three())},
        {"pack_existing_refused", {"pack", "B", "a.wav"}, wav_files({"a.wav"}, three())},
        {"pack_existing_forced", {"pack", "B", "a.wav", "--force"}, wav_files({"a.wav"}, three())},
        needing(
            SoundSupport::without,
            {"pack_folder_without_wav_files", {"pack", "P", "in"}, with_file(three(), "in", true)}),
        {"pack_missing_input", {"pack", "P", "a.wav", "gone.wav"}, wav_files({"a.wav"})},
        needing(SoundSupport::without, {"pack_not_a_wav_file", {"pack", "P", "B.pev"}, three()}),
        {"pack_no_input", {"pack", "P"}, nullptr},
        {"pack_quiet", {"pack", "-q", "P", "a.wav"}, wav_files({"a.wav"})},
        {"pack_verbose", {"pack", "P", "a.wav", "b.wav", "-v"}, wav_files({"a.wav", "b.wav"})},
        // replace
        {"replace_in_place",
         {"replace", "B", "2=a.wav"},
         wav_at("a.wav", three()),
         0,
         false,
         0,
         holds_clip_2_replaced("B.pev")},
        // A write that fails midway, as on a full disk: the archive stays
        // as it was and nothing is left beside it.
        {"replace_in_place_disk_full",
         {"replace", "B", "2=a.wav"},
         wav_at("a.wav", three()),
         0,
         false,
         1,
         [](const TempDir& dir) {
             EXPECT_EQ(read_file(dir.file("B.pev")), build_archive(three_clip_archive()));
         }},
        {"replace_into_new_archive",
         {"replace", "B", "2=a.wav", "-o", "C", "-v"},
         wav_at("a.wav", three())},
        {"replace_output_exists",
         {"replace", "B", "2=a.wav", "-o", "C.pev"},
         wav_at("a.wav", with_file(three(), "C.pev"))},
        {"replace_output_forced",
         {"replace", "B", "2=a.wav", "-o", "C", "--force", "-q"},
         wav_at("a.wav", with_file(three(), "C.pev")),
         0,
         false,
         0,
         holds_clip_2_replaced("C.pev")},
        {"replace_output_is_the_archive",
         {"replace", "B", "2=a.wav", "-o", "B.pev", "--force"},
         wav_at("a.wav", three())},
        {"replace_damaged_clips",
         {"replace", "D", "2=a.wav", "3=a.wav", "4=a.wav", "6=a.wav"},
         wav_at("a.wav", damaged())},
        {"replace_damaged_clip_kept", {"replace", "D", "2=a.wav"}, wav_at("a.wav", damaged())},
        needing(SoundSupport::without,
                {"replace_with_not_a_wav_file", {"replace", "B", "1=B.pev"}, three()}),
        needing(SoundSupport::without, {"replace_with_other_rate",
                                        {"replace", "B", "1=a.wav"},
                                        wav_at("a.wav", three(), 8000)}),
        {"replace_out_of_range", {"replace", "B", "4=a.wav"}, wav_at("a.wav", three())},
        {"replace_zero", {"replace", "B", "0=a.wav"}, wav_at("a.wav", three())},
        {"replace_given_twice", {"replace", "B", "2=a.wav", "02=a.wav"}, wav_at("a.wav", three())},
        {"replace_not_a_pair", {"replace", "B", "a.wav"}, wav_at("a.wav", three())},
        // Re-voicing: a folder of new recordings, their lengths and levels.
        unchanged({"replace_from_unmatched",
                   {"replace", "V", "--from", "new"},
                   voices(with_line(nullptr, "new/V_0009.wav"))}),
        {"replace_from_ignore_unmatched",
         {"replace", "V", "--from", "new", "--ignore-unmatched", "-o", "W", "-v"},
         voices(with_line(nullptr, "new/stray.wav"))},
        {"replace_from", {"replace", "V", "--from", "new", "-o", "W"}, voices()},
        unchanged({"replace_from_and_pair_name_one_clip",
                   {"replace", "V", "2=x.wav", "--from", "new"},
                   voices(with_line(nullptr, "x.wav"))}),
        unchanged({"replace_from_strict_length",
                   {"replace", "V", "--from", "new", "--strict-length"},
                   voices()}),
        needing(LoudnessSupport::with, unchanged({"replace_from_max_shorter",
                                                  {"replace", "V", "--from", "new", "--max-longer",
                                                   "40%", "--max-shorter", "5", "--dry-run"},
                                                  voices()})),
        {"replace_from_name_template",
         {"replace", "V", "--from", "lines", "--name", "line-{id}.flac", "-o", "W"},
         voices(with_line(with_line(nullptr, "lines/line-3.wav", 1.2), "lines/line-0.wav", 1.9))},
        unchanged({"replace_from_missing_folder", {"replace", "V", "--from", "gone"}, voices()}),
        {"replace_from_empty_folder",
         {"replace", "V", "--from", "empty"},
         voices([](const TempDir& dir) { fs::create_directories(dir.path() / "empty"); })},
        {"replace_nothing_named", {"replace", "V"}, voices()},
        {"replace_from_into_empty_archive",
         {"replace", "E", "--from", "new"},
         voices([](const TempDir& dir) { put(dir, "E.pev", TestArchive{}); })},
        {"replace_name_without_from", {"replace", "V", "1=x.wav", "--name", "{n}.wav"}, voices()},
        {"replace_max_longer_negative",
         {"replace", "V", "--from", "new", "--max-longer", "-5"},
         voices()},
        needing(LoudnessSupport::with,
                unchanged({"replace_dry_run_json",
                           {"replace", "V", "--from", "new", "--dry-run", "--json"},
                           voices()})),
        needing(LoudnessSupport::with,
                unchanged({"replace_from_dry_run",
                           {"replace", "V", "--from", "new", "--match-loudness", "--dry-run"},
                           voices()})),
        needing(LoudnessSupport::without, unchanged({"replace_from_dry_run_lacking",
                                                     {"replace", "V", "--from", "new", "--dry-run"},
                                                     voices()})),
        needing(LoudnessSupport::with,
                {"replace_match_loudness",
                 {"replace", "V", "--from", "new", "--match-loudness", "-o", "W", "-v"},
                 voices()}),
        // Scaled samples rounded, not dithered: another archive.
        needing(SoundSupport::with, needing(LoudnessSupport::with,
                                            {"replace_match_loudness_undithered",
                                             {"replace", "V", "--from", "new", "--match-loudness",
                                              "--no-dither", "-o", "W", "-q"},
                                             voices()})),
        needing(LoudnessSupport::with,
                {"replace_match_loudness_json",
                 {"replace", "V", "1=spiky.wav", "3=new/V_0003.wav", "4=new/V_0002.wav",
                  "--match-loudness", "--json", "-o", "W"},
                 voices()}),
        // A damaged clip measures nothing: its recording keeps its level.
        needing(LoudnessSupport::with, {"replace_damaged_clip_match_loudness",
                                        {"replace", "D", "2=a.wav", "3=a.wav", "4=a.wav", "6=a.wav",
                                         "--match-loudness", "-o", "M"},
                                        wav_at("a.wav", damaged())}),
        needing(LoudnessSupport::without,
                unchanged({"replace_match_loudness_lacking",
                           {"replace", "V", "--from", "new", "--match-loudness"},
                           voices()})),
        needing(LoudnessSupport::with, {"list_loudness", {"list", "V", "--loudness"}, voices()}),
        needing(
            LoudnessSupport::with,
            {"list_loudness_json", {"list", "--json", "--loudness", "V", "-c", "3-4"}, voices()}),
        needing(LoudnessSupport::with,
                {"list_loudness_damaged", {"list", "--loudness", "D"}, damaged()}),
        needing(LoudnessSupport::without,
                {"list_loudness_lacking", {"list", "V", "--loudness"}, voices()}),
        // Sound files other than 16-bit mono WAV, and the options for them.
        needing(SoundSupport::with, {"pack_not_a_sound_file", {"pack", "P", "B.pev"}, three()}),
        needing(SoundSupport::with, {"pack_folder_without_sound_files",
                                     {"pack", "P", "in"},
                                     with_file(three(), "in", true)}),
        needing(SoundSupport::with,
                {"pack_text_named_wav",
                 {"pack", "P", "t.wav"},
                 [](const TempDir& dir) {
                     write_file(dir.file("t.wav"), {'h', 'e', 'l', 'l', 'o', '\n'});
                 }}),
        needing(SoundSupport::with,
                {"pack_output_named_flac", {"pack", "x.flac", "a.wav"}, wav_files({"a.wav"})}),
        needing(SoundSupport::with, {"pack_rate_out_of_range",
                                     {"pack", "P", "a.wav", "--rate", "10"},
                                     wav_files({"a.wav"})}),
        needing(SoundSupport::with,
                {"replace_with_not_a_sound_file", {"replace", "B", "1=B.pev"}, three()}),
        // Resampled to the archive's rate; -q, since the stored bytes of a
        // resampled clip are libsoxr's to say to the last bit.
        needing(SoundSupport::with, {"replace_with_other_rate_resampled",
                                     {"replace", "B", "1=a.wav", "-q"},
                                     [](const TempDir& dir) {
                                         three()(dir);
                                         std::vector<std::int16_t> quiet = noise(900, 9);
                                         for (std::int16_t& sample : quiet) {
                                             sample = static_cast<std::int16_t>(sample / 4);
                                         }
                                         write_file(dir.file("a.wav"), wav_file_bytes(quiet, 8000));
                                     }}),
        needing(SoundSupport::with, {"extract_opus_at_a_rate_it_lacks",
                                     {"extract", "B", "--format", "opus", "--rate", "22050"},
                                     three()}),
        // Encoders that refuse the rate only once they start: no file is left.
        needing(SoundSupport::with, {"extract_flac_at_a_rate_it_cannot_encode",
                                     {"extract", "B", "--format", "flac", "--rate", "700000"},
                                     three()}),
        needing(SoundSupport::with, {"extract_ogg_at_a_rate_it_cannot_encode",
                                     {"extract", "B", "--format", "ogg", "--rate", "700000"},
                                     three()}),
        needing(
            SoundSupport::without,
            {"pack_rate_lacking", {"pack", "P", "a.wav", "--rate", "22050"}, wav_files({"a.wav"})}),
        needing(SoundSupport::without,
                {"extract_format_lacking", {"extract", "B", "--format", "flac"}, three()}),
        needing(SoundSupport::without,
                {"extract_name_flac_lacking", {"extract", "B", "--name", "{n}.flac"}, three()}),
        needing(SoundSupport::without,
                {"cat_format_lacking", {"cat", "B", "1", "--format", "mp3"}, three()}),
        {"extract_format_unknown", {"extract", "B", "--format", "wma"}, three()},
        {"extract_format_and_name_disagree",
         {"extract", "B", "--format", "flac", "--name", "{n}.wav"},
         three()},
        // The very files extract writes by default.
        {"extract_format_wav",
         {"extract", "B", "--format", "wav", "--name", "{base}_{n}.WAV"},
         three()},
    };
}

std::vector<GoldenCase> all_golden_cases() {
    std::vector<GoldenCase> cases = golden_cases();
#if PEV_TEST_HAS_SOUND
    for (GoldenCase& golden : sound_file_cases()) {
        cases.push_back(needing(SoundSupport::with, std::move(golden)));
    }
#endif
    return cases;
}

class PevGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(PevGolden, OutputMatches) {
    // Every case would show the progress line from its first clip if it were
    // ever drawn on anything but a terminal: here standard error is a file.
    setenv("PEV_PROGRESS_DELAY", "0", 1);
    if (GetParam().sound != SoundSupport::any &&
        (GetParam().sound == SoundSupport::with) != pev_has_sound()) {
        GTEST_SKIP() << "for a pev " << (pev_has_sound() ? "without" : "with") << " sound files";
    }
    if (GetParam().loudness != LoudnessSupport::any &&
        (GetParam().loudness == LoudnessSupport::with) != pev_has_loudness()) {
        GTEST_SKIP() << "for a pev " << (pev_has_loudness() ? "without" : "with") << " libebur128";
    }
    run_golden_case(GetParam(), program_under_test(),
                    fs::path(PEV_SOURCE_DIR) / "tests/cli/pev_golden");
}

INSTANTIATE_TEST_SUITE_P(Pev, PevGolden, ::testing::ValuesIn(all_golden_cases()),
                         [](const auto& info) { return info.param.name; });

// A replaced clip decodes as the WAV file packed alone would, and every other
// clip exactly as in the source, whose clips this encoder would store
// otherwise (a raw block, escapes across blocks).
TEST(PevReplace, ReplacedArchiveDecodesAsItsParts) {
    const TempDir dir;
    three()(dir);
    write_file(dir.file("new.wav"), wav_file_bytes(noise(3001, 4), 22050));
    const std::string pev = program_under_test();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "pev");
        const ProcessResult result = run_process(pev, args, dir.path().string());
        EXPECT_EQ(result.status, 0) << args[1] << ": " << result.err;
    };
    run({"replace", "B", "2=new.wav", "-o", "R"});
    run({"test", "R"});
    run({"pack", "N", "new.wav"});
    for (const char* archive : {"B", "R", "N"}) {
        run({"extract", archive, "-q", "-o", archive + std::string("-wav")});
    }
    EXPECT_EQ(read_file(dir.file("R-wav/R_0001.wav")), read_file(dir.file("B-wav/B_0001.wav")));
    EXPECT_EQ(read_file(dir.file("R-wav/R_0002.wav")), read_file(dir.file("N-wav/N_0001.wav")));
    EXPECT_EQ(read_file(dir.file("R-wav/R_0003.wav")), read_file(dir.file("B-wav/B_0003.wav")));
}

// The other side of the golden cases: on a terminal (script(1) gives the
// program one) the line is drawn, and taken off before the summary.
TEST(PevProgress, DrawnOnATerminal) {
    if (runs_through_emulator() || std::system("script --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs script(1) and a native build";
    }
    const TempDir dir;
    three()(dir);
    const std::string command = "cd '" + dir.path().string() +
                                "' && PEV_PROGRESS_DELAY=0 script -qec '" + program_under_test() +
                                " extract B' /dev/null >screen";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto bytes = read_file(dir.file("screen"));
    const std::string screen(bytes.begin(), bytes.end());
    EXPECT_TRUE(screen.starts_with("\r1 of 3 clips, 0.0 MB, ")) << screen;
    EXPECT_TRUE(screen.ends_with(" \rExtracted 3 clips (4.3 kB) into .\r\n")) << screen;
}

} // namespace
} // namespace pev::test
