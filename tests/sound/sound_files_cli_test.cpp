// pev with sound files, run as a process: every format packs, every format
// extract writes decodes to the clip's length, FLAC to its very samples.

#include "support/archive_builder.hpp"
#include "support/process.hpp"
#include "support/recordings.hpp"
#include "support/temp_dir.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <soxr.h>

namespace pev::test {
namespace {

const std::string kPev = PEV_BINARY_DIR "/pev";

void run_pev(const TempDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> line = {"pev"};
    line.insert(line.end(), args.begin(), args.end());
    const ProcessResult result = run_process(kPev, line, dir.path().string());
    ASSERT_EQ(result.status, 0) << args[0] << ": " << result.err;
}

// The 16-bit samples of a decoded file, mono.
std::vector<float> decoded(const std::string& path, std::uint32_t& rate) {
    int channels = 0;
    std::vector<float> samples = read_recording_floats(path, rate, channels);
    EXPECT_EQ(channels, 1) << path;
    return samples;
}

class SoundFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        // A folder of one recording in each format pev reads; packed in name order.
        const struct {
            const char* name;
            int format;
            std::uint32_t rate;
        } inputs[] = {
            {"in/1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000},
            {"in/2.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100},
            {"in/3.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 22050},
            {"in/4.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 16000},
            {"in/5.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 32000},
            {"in/6.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000},
        };
        std::filesystem::create_directory(dir_.path() / "in");
        for (const auto& input : inputs) {
            write_recording(dir_.file(input.name), input.format, sweep(input.rate, 2, 1.0, 3000));
        }
        run_pev(dir_, {"pack", "A", "in", "--rate", "22050"});
        run_pev(dir_, {"test", "A"});
        run_pev(dir_, {"extract", "A", "-o", "wav"});
    }

    // Clip `n`'s samples as the WAV file pev extract writes by default.
    std::vector<float> clip(int n) {
        std::uint32_t rate = 0;
        return decoded(dir_.file("wav/A_000" + std::to_string(n) + ".wav"), rate);
    }

    TempDir dir_;
};

// Every recording packed as a clip of its length at 22050 Hz, give or take
// what a lossy codec's frames add.
TEST_F(SoundFiles, EveryInputFormatPacks) {
    for (int n = 1; n <= 6; ++n) {
        EXPECT_NEAR(double(clip(n).size()), 22050.0, n == 5 ? 1200.0 : 2.0) << n;
    }
}

// Each output format decodes to the clip's length at its rate (Opus, which
// takes no 22050 Hz, at 24000); FLAC and AIFF to the very samples.
TEST_F(SoundFiles, EveryOutputFormatDecodesToTheClip) {
    const struct {
        const char* format;
        const char* extension;
        std::uint32_t rate;
        bool exact;
        double slack; // samples a lossy codec's frames may add or take
    } outputs[] = {
        {"flac", ".flac", 22050, true, 0},   {"aiff", ".aiff", 22050, true, 0},
        {"ogg", ".ogg", 22050, false, 2},    {"opus", ".opus", 24000, false, 2},
        {"mp3", ".mp3", 22050, false, 1200},
    };
    const std::vector<float> wav = clip(2);
    for (const auto& output : outputs) {
        const std::string folder = std::string("out-") + output.format;
        run_pev(dir_, {"extract", "A", "-c", "2", "--format", output.format, "-o", folder});
        std::uint32_t rate = 0;
        const std::vector<float> got =
            decoded(dir_.file(folder + "/A_0002" + output.extension), rate);
        EXPECT_EQ(rate, output.rate) << output.format;
        EXPECT_NEAR(double(got.size()), double(wav.size()) * output.rate / 22050, output.slack)
            << output.format;
        if (output.exact) {
            EXPECT_EQ(got, wav) << output.format;
        }
    }
}

// --rate on the way out, and the name template choosing the format; cat
// writes the same FLAC file extract does.
TEST_F(SoundFiles, ResampledAndNamedOutputs) {
    run_pev(dir_, {"extract", "A", "-c", "1", "--rate", "44100", "-o", "r"});
    run_pev(dir_, {"extract", "A", "-c", "1", "--name", "{n}.FLAC", "-o", "n"});
    std::uint32_t rate = 0;
    const std::vector<float> resampled = decoded(dir_.file("r/A_0001.wav"), rate);
    EXPECT_EQ(rate, 44100u);
    EXPECT_NEAR(double(resampled.size()), 2.0 * double(clip(1).size()), 2.0);
    EXPECT_EQ(decoded(dir_.file("n/0001.FLAC"), rate), clip(1));
    const ProcessResult cat =
        run_process(kPev, {"pev", "cat", "A", "1", "--format", "flac"}, dir_.path().string());
    ASSERT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(std::vector<std::uint8_t>(cat.out.begin(), cat.out.end()),
              read_file(dir_.file("n/0001.FLAC")));
}

// Without dither a resampled clip is libsoxr's very-high-quality conversion
// of its 16-bit steps taken as x/32768 (the scale libsndfile reads them
// back at), rounded: the same in a WAV file as in a FLAC file. With dither
// it is not.
TEST(ResampledOutput, WithoutDitherIsLibsoxrRounded) {
    const TempDir dir;
    write_recording(dir.file("tone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                    tone(22050, 1, 1.0, 1000, 0.9));
    run_pev(dir, {"pack", "T", "tone.wav", "-q"});
    run_pev(dir, {"extract", "T", "--name", "T.wav", "-q"});
    std::uint32_t rate = 0;
    const std::vector<float> clip = decoded(dir.file("T.wav"), rate);
    std::vector<float> expected(2 * clip.size() + 16);
    std::size_t made = 0;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    ASSERT_EQ(soxr_oneshot(22050, 44100, 1, clip.data(), clip.size(), nullptr, expected.data(),
                           expected.size(), &made, nullptr, &quality, nullptr),
              nullptr);
    expected.resize(made);
    for (float& sample : expected) {
        sample = static_cast<float>(std::nearbyint(double(sample) * 32768.0) / 32768.0);
    }
    for (const char* format : {"wav", "flac"}) {
        const std::string out = std::string("out.") + format;
        run_pev(dir, {"extract", "T", "--rate", "44100", "--no-dither", "--format", format,
                      "--name", out, "-q"});
        EXPECT_EQ(decoded(dir.file(out), rate), expected) << format;
        EXPECT_EQ(rate, 44100u) << format;
    }
    run_pev(dir, {"extract", "T", "--rate", "44100", "--name", "dithered.wav", "-q"});
    EXPECT_NE(decoded(dir.file("dithered.wav"), rate), expected);
}

// The rates --rate takes, at both ends; and the summary counts the bytes of
// the files written, resampled (a clip of 100 samples: 444 bytes at twice
// its rate).
TEST(ResampledOutput, RateBoundsAndTheSizeWritten) {
    const TempDir dir;
    write_recording(dir.file("short.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                    noise_signal(22050, 1, 100, 3));
    run_pev(dir, {"pack", "S", "short.wav", "-q"});
    const struct {
        const char* rate;
        int status;
    } rates[] = {{"999", 2}, {"1000", 0}, {"768000", 0}, {"768001", 2}};
    for (const auto& c : rates) {
        const ProcessResult result =
            run_process(kPev, {"pev", "extract", "S", "--rate", c.rate, "--force", "-o", c.rate},
                        dir.path().string());
        EXPECT_EQ(result.status, c.status) << c.rate << ": " << result.err;
        if (c.status == 0) {
            std::uint32_t rate = 0;
            decoded(dir.file(std::string(c.rate) + "/S_0001.wav"), rate);
            EXPECT_EQ(std::to_string(rate), c.rate);
        }
    }
    const ProcessResult twice = run_process(
        kPev, {"pev", "extract", "S", "--rate", "44100", "-o", "twice"}, dir.path().string());
    EXPECT_EQ(twice.out, "Extracted 1 clip (444 bytes) into twice\n");
    EXPECT_EQ(std::filesystem::file_size(dir.file("twice/S_0001.wav")), 444u);
}

// An empty clip is an empty file of each format (but Opus, whose empty
// stream libsndfile cannot read back), and packs again as an empty clip.
TEST(EmptyClip, IsAnEmptyFileOfEachFormat) {
    const TempDir dir;
    write_recording(dir.file("empty.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, Signal{22050, 1, {}});
    run_pev(dir, {"pack", "E", "empty.wav"});
    for (const char* format : {"flac", "ogg", "mp3", "aiff"}) {
        run_pev(dir, {"extract", "E", "--format", format, "-q", "--force"});
        const std::string file = dir.file("E_0001." + std::string(format));
        std::uint32_t rate = 0;
        EXPECT_TRUE(decoded(file, rate).empty()) << format;
        EXPECT_EQ(rate, 22050u) << format;
        run_pev(dir, {"pack", "again", file, "--force", "-q"});
        EXPECT_EQ(read_file(dir.file("again.pev")), read_file(dir.file("E.pev"))) << format;
    }
}

} // namespace
} // namespace pev::test
