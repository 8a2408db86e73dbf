// pev with sound files, run as a process: every format packs, every format
// extract writes decodes to the clip's length, FLAC to its very samples.

#include "support/archive_builder.hpp"
#include "support/process.hpp"
#include "support/recordings.hpp"
#include "support/temp_dir.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>

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
