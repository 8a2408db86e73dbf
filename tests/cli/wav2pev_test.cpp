#include "cli/pev2wav_main.hpp"
#include "cli/wav2pev_main.hpp"
#include "codec/block_encoder.hpp"
#include "codec/tables.hpp"
#include "common/version.hpp"
#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"
#include "wav/wav_reader.hpp"
#include "wav/wav_writer.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;
using pev::test::read_file;
using pev::test::TempDir;
using pev::test::write_file;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string text_of(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(file);
    return text;
}

Outcome run_program(int (*program)(std::span<const std::string>, std::FILE*, std::FILE*),
                    std::vector<std::string> args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Outcome result;
    result.status = program(args, out, err);
    result.out = text_of(out);
    result.err = text_of(err);
    return result;
}

Outcome wav2pev(std::vector<std::string> args) {
    args.insert(args.begin(), "Wav2pev");
    return run_program(pev::cli::run_wav2pev, args);
}

Outcome pev2wav(const std::string& base) {
    return run_program(pev::cli::run_pev2wav, {"Pev2wav", base});
}

void write_wav(const std::string& path, const Samples& samples, std::uint32_t rate) {
    const auto header =
        pev::wav::make_header(static_cast<std::uint32_t>(2 * samples.size()), 1, rate);
    Bytes bytes(header.begin(), header.end());
    for (const std::int16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s));
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
    }
    write_file(path, bytes);
}

pev::wav::WavClip read_wav(const std::string& path) {
    const pev::wav::WavReadResult result = pev::wav::read_wav_file(path);
    EXPECT_TRUE(result.ok()) << path << ": " << result.error;
    return result.clip;
}

Samples expected_after_round_trip(const Samples& input) {
    Samples expected;
    for (const std::int16_t s : input) {
        expected.push_back(pev::kExpansion[pev::nearest_level(s)]);
    }
    if (expected.size() % 2 == 1) {
        expected.push_back(expected.back());
    }
    return expected;
}

// Random clips of every kind the encoder meets: odd lengths, silence runs,
// loud noise (raw blocks), wandering tones (delta) and big jumps (escapes).
Samples random_clip(std::mt19937& random, int kind) {
    const std::size_t lengths[] = {0, 1, 1023, 1024, 1025, 3001, 4096, 6143};
    const std::size_t length = lengths[random() % std::size(lengths)] + random() % 3;
    std::uniform_int_distribution<int> any(-32768, 32767);
    Samples clip(length);
    int value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        switch (kind % 4) {
        case 0:
            value = any(random);
            break;
        case 1:
            value = std::clamp(value + any(random) / 128, -32768, 32767);
            break;
        case 2:
            value = (i / 1100) % 2 == 0 ? 0 : any(random) / 16;
            break;
        default:
            value = random() % 7 == 0 ? any(random) : value;
            break;
        }
        clip[i] = static_cast<std::int16_t>(value);
    }
    return clip;
}

std::vector<std::string> files_in(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The round-trip law: Pev2wav gives back every input sample at its nearest
// level (plus one repeated sample for an odd length) at the input's rate, and
// packing that output again gives the very same archive.
TEST(Wav2pevRoundTrip, RandomClipsComeBackAtTheirNearestLevels) {
    std::mt19937 random(5);
    for (const std::uint32_t rate : {8000u, 22050u, 48000u}) {
        const TempDir dir;
        std::vector<Samples> clips;
        std::vector<std::string> args = {dir.file("packed")};
        for (int i = 0; i < 8; ++i) {
            clips.push_back(random_clip(random, i));
            const std::string name = dir.file("in" + std::to_string(i) + ".wav");
            write_wav(name, clips.back(), rate);
            args.push_back(name);
        }
        const Outcome packed = wav2pev(args);
        ASSERT_EQ(packed.status, 0) << packed.err;
        EXPECT_EQ(packed.err, "");

        const Outcome unpacked = pev2wav(dir.file("packed"));
        ASSERT_NE(unpacked.out.find("Total files extracted: 8"), std::string::npos) << unpacked.out;
        for (std::size_t i = 0; i < clips.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "packed_%04zu.wav", i + 1);
            const pev::wav::WavClip clip = read_wav(dir.file(name));
            EXPECT_EQ(clip.sample_rate, rate);
            EXPECT_EQ(clip.samples, expected_after_round_trip(clips[i])) << name;
        }

        const Outcome repacked = wav2pev({dir.file("packed"), "--force"});
        ASSERT_EQ(repacked.status, 0) << repacked.err;
        EXPECT_EQ(repacked.out.find("odd length"), std::string::npos) << repacked.out;
        // Same levels, same blocks: the second archive equals the first.
        const Bytes first = read_file(dir.file("packed.pev"));
        std::filesystem::rename(dir.file("packed.pev"), dir.file("first.pev"));
        ASSERT_EQ(wav2pev({dir.file("packed")}).status, 0);
        EXPECT_EQ(read_file(dir.file("packed.pev")), first);
    }
}

TEST(Wav2pevRoundTrip, RepackedOutputIsByteIdentical) {
    std::mt19937 random(9);
    const TempDir dir;
    std::vector<std::string> args = {dir.file("a")};
    for (int i = 0; i < 4; ++i) {
        const std::string name = dir.file("clip" + std::to_string(i) + ".wav");
        write_wav(name, random_clip(random, i), 11025);
        args.push_back(name);
    }
    ASSERT_EQ(wav2pev(args).status, 0);
    pev2wav(dir.file("a"));
    ASSERT_EQ(wav2pev({dir.file("b"), dir.file("a_0001.wav"), dir.file("a_0002.wav"),
                       dir.file("a_0003.wav"), dir.file("a_0004.wav")})
                  .status,
              0);
    pev2wav(dir.file("b"));
    for (const char* number : {"0001", "0002", "0003", "0004"}) {
        EXPECT_EQ(read_file(dir.file(std::string("b_") + number + ".wav")),
                  read_file(dir.file(std::string("a_") + number + ".wav")))
            << number;
    }
    EXPECT_EQ(read_file(dir.file("b.pev")), read_file(dir.file("a.pev")));
}

// The demo archive is real speech: unpacking and repacking it gives it back.
TEST(Wav2pevRoundTrip, DemoSpeechRepacksToTheSameArchive) {
    const std::string demo = std::string(PEV_SOURCE_DIR) + "/examples/demo.pev";
    if (!std::filesystem::exists(demo)) {
        GTEST_SKIP() << "no examples/demo.pev";
    }
    const TempDir dir;
    std::filesystem::copy_file(demo, dir.file("demo.pev"));
    const Outcome unpacked = pev2wav(dir.file("demo"));
    ASSERT_NE(unpacked.out.find("Total files extracted"), std::string::npos) << unpacked.out;
    std::vector<std::string> args = {"--like", dir.file("demo.pev"), dir.file("again")};
    for (const std::string& name : files_in(dir.path())) {
        if (name.ends_with(".wav")) {
            args.push_back(dir.file(name));
        }
    }
    const Outcome repacked = wav2pev(args);
    ASSERT_EQ(repacked.status, 0) << repacked.err;
    EXPECT_EQ(read_file(dir.file("again.pev")), read_file(demo));
}

TEST(Wav2pev, OddLengthIsReportedInItsLine) {
    const TempDir dir;
    write_wav(dir.file("odd.wav"), Samples(3, 1000), 8000);
    write_wav(dir.file("even.wav"), Samples(4, 1000), 8000);
    const Outcome packed = wav2pev({dir.file("x"), dir.file("odd.wav"), dir.file("even.wav")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    const std::string odd_line = "Packed: " + dir.file("odd.wav") +
                                 " (3 samples, 1 block: 0 silent, 0 raw, 1 delta, 5 bytes)"
                                 " + 1 sample repeating the last, for its odd length\n";
    const std::string even_line = "Packed: " + dir.file("even.wav") +
                                  " (4 samples, 1 block: 0 silent, 0 raw, 1 delta, 5 bytes)\n";
    const std::string total = "Packed 2 clips, 8 samples, into " + dir.file("x.pev") +
                              ": 58 bytes (362.5% of the 16 bytes of samples)\n";
    EXPECT_EQ(packed.out, odd_line + even_line + total);
}

TEST(Wav2pev, BaseAlonePacksConsecutiveNumbersUpToTheFirstGap) {
    const TempDir dir;
    for (const char* name : {"v_0001.wav", "v_0002.wav", "v_0004.wav"}) {
        write_wav(dir.file(name), Samples(10, 5), 8000);
    }
    const Outcome packed = wav2pev({dir.file("v")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_NE(packed.out.find("Packed 2 clips"), std::string::npos) << packed.out;
    EXPECT_EQ(packed.out.find("v_0004"), std::string::npos);

    const Outcome nothing = wav2pev({dir.file("w")});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.err,
              "Wav2pev: " + dir.file("w_0001.wav") + ": not found, so there is nothing to pack\n");
}

// All 9999 numbers, the last one included, and a 10000th is refused.
TEST(Wav2pev, BaseAlonePacksAllOfBase0001ToBase9999) {
    const TempDir dir;
    char name[32];
    for (int position = 1; position <= 9999; ++position) {
        std::snprintf(name, sizeof name, "v_%04d.wav", position);
        write_wav(dir.file(name), Samples{static_cast<std::int16_t>(position), 0}, 8000);
    }
    const Outcome packed = wav2pev({dir.file("v")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_NE(packed.out.find("Packed: " + dir.file("v_9999.wav") + " ("), std::string::npos);
    EXPECT_NE(packed.out.find("Packed 9999 clips, 19998 samples"), std::string::npos);

    write_wav(dir.file("v_10000.wav"), Samples{1, 0}, 8000);
    const Outcome refused = wav2pev({"--force", dir.file("v")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "Wav2pev: " + dir.file("v_10000.wav") + ": an archive holds at most 9999 clips\n");
}

TEST(Wav2pev, LikeKeepsIdsAndUnreadHeaderBytes) {
    const TempDir dir;
    pev::test::TestArchive old;
    old.unread_fill = 0x5A;
    old.entries = {pev::test::delta_entry(300, {0x21}), pev::test::delta_entry(17, {0x21})};
    write_file(dir.file("old.pev"), pev::test::build_archive(old));
    write_wav(dir.file("a.wav"), Samples(2, 0), 8000);
    write_wav(dir.file("b.wav"), Samples(2, 0), 8000);

    const Outcome packed = wav2pev(
        {"--like", dir.file("old.pev"), dir.file("new"), dir.file("a.wav"), dir.file("b.wav")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    const Bytes bytes = read_file(dir.file("new.pev"));
    ASSERT_GE(bytes.size(), 48u);
    for (const std::size_t at : {6u, 15u, 20u, 23u, 28u, 31u}) {
        EXPECT_EQ(bytes[at], 0x5A) << at;
    }
    EXPECT_EQ(bytes[24] | (bytes[25] << 8), 8000); // the clips' rate, not the old one
    EXPECT_EQ(bytes[32] | (bytes[33] << 8), 300);
    EXPECT_EQ(bytes[40] | (bytes[41] << 8), 17);

    const Outcome mismatch =
        wav2pev({"--like", dir.file("old.pev"), dir.file("other"), dir.file("a.wav")});
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_EQ(mismatch.err,
              "Wav2pev: " + dir.file("old.pev") + ": it holds 2 clips, but 1 are being packed\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("other.pev")));
}

TEST(Wav2pev, WithoutLikeIdsArePositionsAndUnreadBytesZero) {
    const TempDir dir;
    write_wav(dir.file("a.wav"), Samples(2, 0), 8000);
    ASSERT_EQ(wav2pev({dir.file("n"), dir.file("a.wav"), dir.file("a.wav")}).status, 0);
    const Bytes bytes = read_file(dir.file("n.pev"));
    EXPECT_EQ(Bytes(bytes.begin() + 6, bytes.begin() + 16), Bytes(10, 0));
    EXPECT_EQ(bytes[32] | (bytes[33] << 8), 0);
    EXPECT_EQ(bytes[40] | (bytes[41] << 8), 1);
}

TEST(Wav2pev, NeverReplacesAnArchiveWithoutForce) {
    const TempDir dir;
    write_wav(dir.file("a.wav"), Samples(100, 300), 8000);
    write_file(dir.file("keep.pev"), Bytes{'o', 'l', 'd'});
    const Outcome refused = wav2pev({dir.file("keep"), dir.file("a.wav")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "Wav2pev: " + dir.file("keep.pev") + ": already exists; use --force to replace it\n");
    EXPECT_EQ(read_file(dir.file("keep.pev")), (Bytes{'o', 'l', 'd'}));

    const Outcome forced = wav2pev({"--force", dir.file("keep"), dir.file("a.wav")});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(pev2wav(dir.file("keep")).out.find("Extract error"), std::string::npos);
}

// A failure halfway leaves neither an archive nor the temporary file, and an
// archive being replaced stays as it was.
TEST(Wav2pev, FailureLeavesNoHalfWrittenArchive) {
    const TempDir dir;
    write_wav(dir.file("good.wav"), Samples(5000, 1000), 8000);
    write_file(dir.file("bad.wav"), Bytes{'n', 'o', 'p', 'e'});
    write_wav(dir.file("other_rate.wav"), Samples(10, 0), 16000);
    struct Case {
        const char* bad;
        const char* reason;
    };
    const Case cases[] = {
        {"bad.wav", ": it is not a RIFF file (it starts with \"nope\")\n"},
        {"missing.wav", ": cannot open it: No such file or directory\n"},
        {"other_rate.wav", ": its sample rate is 16000 Hz, but the clips before it are at 8000 "
                           "Hz; all clips of an archive share one rate\n"},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> before = files_in(dir.path());
        const Outcome failed =
            wav2pev({dir.file("x"), dir.file("good.wav"), dir.file(c.bad), dir.file("good.wav")});
        EXPECT_EQ(failed.status, 1) << c.bad;
        EXPECT_EQ(failed.err, "Wav2pev: " + dir.file(c.bad) + c.reason);
        EXPECT_EQ(files_in(dir.path()), before) << c.bad;

        write_file(dir.file("x.pev"), Bytes{'o', 'l', 'd'});
        const Outcome forced =
            wav2pev({"--force", dir.file("x"), dir.file("good.wav"), dir.file(c.bad)});
        EXPECT_EQ(forced.status, 1) << c.bad;
        EXPECT_EQ(read_file(dir.file("x.pev")), (Bytes{'o', 'l', 'd'})) << c.bad;
        std::filesystem::remove(dir.file("x.pev"));
    }
}

TEST(Wav2pev, TruncatedDataIsPackedWithAWarning) {
    const TempDir dir;
    write_wav(dir.file("cut.wav"), Samples(100, 300), 8000);
    Bytes bytes = read_file(dir.file("cut.wav"));
    bytes.resize(bytes.size() - 20);
    write_file(dir.file("cut.wav"), bytes);
    const Outcome packed = wav2pev({dir.file("t"), dir.file("cut.wav")});
    EXPECT_EQ(packed.status, 0);
    EXPECT_EQ(packed.err, "Wav2pev: warning: " + dir.file("cut.wav") +
                              ": its data chunk claims 200 bytes but the file holds only 180; "
                              "packing those\n");
    EXPECT_NE(packed.out.find("(90 samples"), std::string::npos) << packed.out;
}

TEST(Wav2pev, AtMost9999Clips) {
    const TempDir dir;
    std::vector<std::string> args = {dir.file("many")};
    args.insert(args.end(), 10000, dir.file("missing.wav"));
    const Outcome refused = wav2pev(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Wav2pev: " + dir.file("many.pev") +
                               ": 10000 clips given; an archive holds at most 9999\n");
    EXPECT_TRUE(files_in(dir.path()).empty());
}

TEST(Wav2pev, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out_starts;
        const char* err_starts;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: Wav2pev [--force] [--like ARCHIVE.pev] BASE [FILE.wav...]\n", ""},
        {{"--version"}, 0, std::string("Wav2pev version ") + pev::kVersion + "\n", ""}, // 1.x
        {{}, 2, "", "Wav2pev: no BASE given\nUsage: Wav2pev"},
        {{"--frobnicate", "x"}, 2, "", "Wav2pev: unknown option --frobnicate\nUsage:"},
        {{"x", "--like"}, 2, "", "Wav2pev: --like needs an archive\n"},
        {{""}, 2, "", "Wav2pev: BASE is empty\n"},
    };
    for (const Case& c : cases) {
        const Outcome result = wav2pev(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out.rfind(c.out_starts, 0), 0u) << result.out;
        EXPECT_EQ(result.err.rfind(c.err_starts, 0), 0u) << result.err;
    }
}

} // namespace
