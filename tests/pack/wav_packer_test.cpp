#include "cli/pack_messages.hpp"
#include "common/little_endian.hpp"
#include "pack/archive_output.hpp"
#include "pack/like_archive.hpp"
#include "pack/pack_inputs.hpp"
#include "pack/pack_session.hpp"
#include "pack/wav_packer.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"
#include "support/wav_builder.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace pev::pack {
namespace {

using pev::test::read_file;
using pev::test::TempDir;
using pev::test::write_file;
using Bytes = std::vector<std::uint8_t>;

// A "like" archive is read by the archive reader and refused in the
// packer's words.
TEST(LikeArchive, RefusesWhatIsNoArchive) {
    test::TestArchive good;
    good.entries = {test::delta_entry(1, {0x21})};
    test::TestArchive bad_magic = good;
    bad_magic.magic = {'P', 'E', 'V', 'P', 'A', 'X'};
    test::TestArchive too_many = good;
    too_many.wave_file_count = 10000;
    test::TestArchive negative = good;
    negative.wave_file_count = -1;
    test::TestArchive cut_table = good;
    cut_table.wave_file_count = 3;
    cut_table.truncate_to = 32 + 8 + 4;
    test::TestArchive short_header = good;
    short_header.truncate_to = 31;
    const struct {
        test::TestArchive archive;
        const char* says;
    } cases[] = {
        {bad_magic, "it is not a voice archive (no PEVPAC magic)"},
        {too_many, "its clip count 10000 is out of range"},
        {negative, "its clip count -1 is out of range"},
        {cut_table, "its entry table is cut short"},
        {short_header, "it is too short to be a voice archive"},
    };
    const TempDir dir;
    for (const auto& c : cases) {
        write_file(dir.file("like.pev"), test::build_archive(c.archive));
        EXPECT_EQ(cli::pack_error_text(read_like_archive(dir.file("like.pev")).error),
                  dir.file("like.pev") + ": " + c.says);
    }
    write_file(dir.file("like.pev"), test::build_archive(good));
    EXPECT_TRUE(read_like_archive(dir.file("like.pev")).error.ok());
}

// A "like" archive may hold as many clips as any archive may.
TEST(PackWavFiles, LikeArchiveOf9999Clips) {
    const TempDir dir;
    test::TestArchive like;
    like.entries.resize(9999);
    for (std::size_t i = 0; i < like.entries.size(); ++i) {
        like.entries[i].id = static_cast<std::uint16_t>(20000 + i);
    }
    write_file(dir.file("like.pev"), test::build_archive(like));
    write_file(dir.file("a.wav"), test::wav_file_bytes({1, 2}, 8000));

    const PackRequest request{dir.file("new.pev"),
                              std::vector<std::string>(9999, dir.file("a.wav")),
                              dir.file("like.pev"), false};
    const PackOutcome outcome = pack_wav_files(request);
    ASSERT_TRUE(outcome.ok()) << cli::pack_error_text(outcome.error);
    EXPECT_EQ(outcome.clips, 9999u);
    EXPECT_EQ(load_u16le(read_file(dir.file("new.pev")), 32 + 8 * 9998), 20000 + 9998);
}

// Files read and encoded ahead on two or three workers change nothing: the
// same archive, the same progress in the same order, the same error at the
// same file. Files large and small (only small ones are encoded ahead), one
// with a warning.
TEST(PackWavFiles, EncodingAheadPacksAsOneThreadDoes) {
    const TempDir dir;
    Bytes cut = test::wav_file_bytes(test::noise(90, 3), 8000);
    cut.resize(cut.size() - 21); // the data chunk claims more than is there
    write_file(dir.file("cut.wav"), cut);
    write_file(dir.file("large.wav"), test::wav_file_bytes(test::noise(600001, 4), 8000));
    for (int i = 0; i < 6; ++i) {
        write_file(dir.file("s" + std::to_string(i) + ".wav"),
                   test::wav_file_bytes(test::noise(1000 + 977 * i, i), 8000));
    }
    const std::vector<std::string> good = {
        dir.file("s0.wav"),    dir.file("cut.wav"), dir.file("s1.wav"), dir.file("large.wav"),
        dir.file("s2.wav"),    dir.file("s3.wav"),  dir.file("s4.wav"), dir.file("large.wav"),
        dir.file("large.wav"), dir.file("s5.wav")};
    std::vector<std::string> failing(good.begin(), good.begin() + 3);
    failing.push_back(dir.file("missing.wav"));
    failing.push_back(dir.file("s2.wav"));

    for (const auto& inputs : {good, failing}) {
        std::string runs[3];
        for (const unsigned threads : {1u, 2u, 3u}) {
            std::string& run = runs[threads - 1];
            PackProgress progress;
            progress.warning = [&run](const std::string& file, const std::string& warning) {
                run.append("warning ").append(file).append(": ").append(warning).append("\n");
            };
            progress.packed = [&run](const std::string& file, const ClipSummary& clip) {
                run.append(packed_clip_line(file, clip)).append("\n");
            };
            PackRequest request{dir.file("out.pev"), inputs, std::nullopt, true};
            request.threads = threads;
            const PackOutcome outcome = pack_wav_files(request, progress);
            run.append(cli::pack_error_text(outcome.error)).append("\n");
            if (outcome.ok()) {
                const Bytes archive = read_file(dir.file("out.pev"));
                run.append(archive.begin(), archive.end());
                std::filesystem::remove(dir.file("out.pev"));
            }
        }
        EXPECT_EQ(runs[1], runs[0]);
        EXPECT_EQ(runs[2], runs[0]);
        EXPECT_NE(runs[0].find("warning"), std::string::npos);
        // Nothing is left of the failed runs: only the 8 inputs remain.
        const auto files = std::filesystem::directory_iterator(dir.path());
        EXPECT_EQ(std::distance(begin(files), end(files)), 8);
    }
}

// Three hundred files, each a tenth of what the workers may hold ahead, so
// that the room runs out again and again: the file the caller waits for
// must still go ahead, or the run waits forever (and fails at the test's
// time limit). The archive is the one thread's.
TEST(PackWavFiles, EncodingAheadOfManyFilesNeverWaitsForever) {
    const TempDir dir;
    std::vector<std::string> inputs;
    for (int i = 0; i < 300; ++i) {
        // Appended piece by piece: g++ 12 warns falsely on "literal" + string&&.
        std::string name = dir.file("f");
        name += std::to_string(i % 30);
        name += ".wav";
        if (i < 30) {
            write_file(name, test::wav_file_bytes(test::noise(50000 + 999 * i, i), 8000));
        }
        inputs.push_back(name);
    }
    Bytes archives[4];
    for (const unsigned threads : {1u, 2u, 4u}) {
        PackRequest request{dir.file("out.pev"), inputs, std::nullopt, true};
        request.threads = threads;
        const PackOutcome outcome = pack_wav_files(request);
        ASSERT_TRUE(outcome.ok()) << cli::pack_error_text(outcome.error);
        archives[threads - 1] = read_file(dir.file("out.pev"));
    }
    EXPECT_EQ(archives[1], archives[0]);
    EXPECT_EQ(archives[3], archives[0]);
}

TEST(PackInputs, FolderGivesItsWavFilesInNameOrder) {
    const TempDir dir;
    std::filesystem::create_directories(dir.path() / "voices" / "sub.wav");
    std::filesystem::create_directory(dir.path() / "empty");
    for (const char* name : {"b.wav", "A.WAV", "a.wav", "notes.txt", ".hidden.wav", "10.wav",
                             "9.wav", "clip10.wav", "clip2.wav", "Clip2.wav", "clip02.wav"}) {
        write_file(dir.file("voices/") + name, {});
    }
    const std::vector<std::string> inputs = {dir.file("x.wav"), dir.file("voices"), "missing"};
    const InputList list = expand_inputs(inputs);
    ASSERT_TRUE(list.error.ok()) << cli::pack_error_text(list.error);
    const std::string voices = dir.file("voices") + "/";
    EXPECT_EQ(list.files,
              (std::vector<std::string>{dir.file("x.wav"), voices + "9.wav", voices + "10.wav",
                                        voices + "A.WAV", voices + "a.wav", voices + "b.wav",
                                        voices + "Clip2.wav", voices + "clip02.wav",
                                        voices + "clip2.wav", voices + "clip10.wav", "missing"}));

    const std::vector<std::string> twice = {dir.file("voices"), dir.file("voices/./b.wav")};
    EXPECT_EQ(cli::pack_error_text(expand_inputs(twice).error),
              dir.file("voices/./b.wav") + ": it is given twice; each file is packed once");

    const std::vector<std::string> empty = {dir.file("empty")};
    EXPECT_EQ(cli::pack_error_text(expand_inputs(empty).error),
              dir.file("empty") + ": it holds no .wav files");
}

// Finishing into a file: never over an archive unless forced, and nothing
// left behind when the archive cannot be written.
TEST(SaveArchive, ReplacesOnlyWhenForcedAndLeavesNothingOnFailure) {
    const TempDir dir;
    write_file(dir.file("a.pev"), {'o', 'l', 'd'});
    PackSession session;
    ASSERT_TRUE(session.add_clip(std::vector<std::int16_t>(10, 7), 8000).ok());
    const auto write = [&session](archive::ByteSink& sink) { return session.write_to(sink); };

    const Error exists = save_archive(dir.file("a.pev"), false, write);
    EXPECT_EQ(exists.code, ErrorCode::file_exists);
    EXPECT_EQ(exists.subject, dir.file("a.pev"));
    EXPECT_EQ(read_file(dir.file("a.pev")), (Bytes{'o', 'l', 'd'}));
    const Error failed = save_archive(dir.file("b.pev"), false, [](archive::ByteSink&) {
        return os_error(ErrorCode::cannot_write, "", ENOSPC);
    });
    EXPECT_EQ(failed.subject, dir.file("b.pev")); // the archive, never a temporary name
    ASSERT_TRUE(save_archive(dir.file("a.pev"), true, write).ok());

    archive::MemorySink memory;
    ASSERT_TRUE(session.write_to(memory).ok());
    EXPECT_EQ(read_file(dir.file("a.pev")), memory.bytes());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

} // namespace
} // namespace pev::pack
