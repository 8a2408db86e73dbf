// The conversion of any recording into a clip's samples: every format read,
// the samples' number at the new rate, the words for what was read, the
// exact path for 16-bit recordings, and sox's conversion of the same files
// as an independent reference.

#include "sound/recording_converter.hpp"
#include "support/archive_builder.hpp"
#include "support/recordings.hpp"
#include "support/temp_dir.hpp"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace pev::test {
namespace {

using sound::read_recording;

std::vector<float> as_floats(const std::vector<std::int16_t>& samples) {
    std::vector<float> floats;
    for (const std::int16_t sample : samples) {
        floats.push_back(static_cast<float>(sample) / 32768.0f);
    }
    return floats;
}

// Every format pev reads, at the rates and sizes recordings come in, to
// 22050 Hz mono: the samples the length says (lossy codecs within a few
// milliseconds, which their frames round to), and the line -v prints.
TEST(ReadRecording, EveryFormatComesToItsLengthAtTheNewRate) {
    struct Case {
        const char* name;
        int format;
        std::uint32_t rate;
        int channels;
        const char* description;
        std::size_t slack; // samples the codec may add or take at 22050 Hz
    };
    const Case cases[] = {
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2,
         "48000 Hz stereo 24-bit WAV -> 22050 Hz mono", 1},
        {"b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1,
         "44100 Hz mono 32-bit float WAV -> 22050 Hz mono", 1},
        {"c.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1,
         "8000 Hz mono 8-bit WAV -> 22050 Hz mono", 1},
        {"d.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
         "48000 Hz stereo 24-bit FLAC -> 22050 Hz mono", 1},
        {"e.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2,
         "44100 Hz stereo Ogg Vorbis -> 22050 Hz mono", 1},
        {"f.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2,
         "48000 Hz stereo Opus -> 22050 Hz mono", 1},
        {"g.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2,
         "44100 Hz stereo MP3 -> 22050 Hz mono", 1200},
        {"h.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 32000, 3,
         "32000 Hz 3-channel 16-bit AIFF -> 22050 Hz mono", 1},
        {"i.caf", SF_FORMAT_CAF | SF_FORMAT_ALAW, 8000, 1,
         "8000 Hz mono A-law CAF -> 22050 Hz mono", 1},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        write_recording(path, c.format, tone(c.rate, c.channels, 1.5, 440));
        const sound::Recording got = read_recording(path, 22050);
        ASSERT_TRUE(got.ok()) << c.name << ": " << got.error.detail;
        EXPECT_EQ(got.description, c.description);
        EXPECT_EQ(got.rate, 22050u);
        EXPECT_NEAR(double(got.samples.size()), 1.5 * 22050, double(c.slack)) << c.name;
        EXPECT_EQ(got.clipped, 0u) << c.name;
    }
}

// A 16-bit recording that needs no resampling comes through exactly, mixed
// down when its channels agree, and dither leaves its silence silent.
TEST(ReadRecording, SixteenBitsAtTheRateComeThroughExactly) {
    const TempDir dir;
    Signal stereo = noise_signal(8000, 2, 5000, 3);
    for (std::size_t i = 0; i + 1 < stereo.samples.size(); i += 2) {
        stereo.samples[i + 1] = i < 2000 ? 0.0f : stereo.samples[i];
        stereo.samples[i] = i < 2000 ? 0.0f : stereo.samples[i];
    }
    write_recording(dir.file("s.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, stereo);
    const sound::Recording got = read_recording(dir.file("s.flac"), 0);
    ASSERT_TRUE(got.ok()) << got.error.detail;
    ASSERT_EQ(got.samples.size(), 5000u);
    for (std::size_t i = 0; i < got.samples.size(); ++i) {
        ASSERT_EQ(got.samples[i], std::lround(stereo.samples[2 * i] * 32768.0f)) << i;
    }
}

// Dither is noise of a step or so where rounding is needed, and off with
// --no-dither; samples past full scale are clipped and counted.
TEST(ReadRecording, DithersAndCountsClippedSamples) {
    const TempDir dir;
    Signal loud = tone(8000, 1, 0.5, 200, 1.5);
    write_recording(dir.file("loud.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, loud);
    std::size_t past_full_scale = 0;
    for (const float sample : loud.samples) {
        past_full_scale += std::lround(sample * 32768.0f) > 32767 || sample * 32768.0f < -32768.5f;
    }
    const sound::Recording dithered = read_recording(dir.file("loud.wav"), 0);
    const sound::Recording rounded = read_recording(dir.file("loud.wav"), 0, false);
    EXPECT_EQ(rounded.clipped, past_full_scale);
    EXPECT_NEAR(double(dithered.clipped), double(past_full_scale), 8.0);
    int differing = 0;
    for (std::size_t i = 0; i < rounded.samples.size(); ++i) {
        EXPECT_LE(std::abs(rounded.samples[i] - std::lround(std::clamp(loud.samples[i] * 32768.0f,
                                                                       -32768.0f, 32767.0f))),
                  0)
            << i;
        EXPECT_LE(std::abs(dithered.samples[i] - rounded.samples[i]), 1) << i;
        differing += dithered.samples[i] != rounded.samples[i];
    }
    EXPECT_GT(differing, 100); // noise, not rounding
}

// The conversion alone (mixing down and resampling) against the same
// conversion by sox: a tone and a sweep agree to at least 40 dB.
TEST(ReadRecording, AgreesWithSox) {
    ASSERT_EQ(std::system("sox --version >/dev/null 2>&1"), 0) << "sox is the reference here";
    const TempDir dir;
    const Signal signals[] = {tone(48000, 2, 2.0, 997, 0.5), sweep(48000, 2, 2.0, 10000, 0.5),
                              sweep(8000, 1, 2.0, 3600, 0.7)};
    for (const std::uint32_t rate : {22050u, 44100u}) {
        for (const Signal& signal : signals) {
            const std::string in = dir.file("in.wav");
            const std::string out = dir.file("sox.wav");
            write_recording(in, SF_FORMAT_WAV | SF_FORMAT_PCM_24, signal);
            const std::string command =
                "sox '" + in + "' -r " + std::to_string(rate) + " -c 1 -b 16 '" + out + "'";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            std::uint32_t sox_rate = 0;
            int sox_channels = 0;
            const std::vector<float> reference = read_recording_floats(out, sox_rate, sox_channels);
            const sound::Recording ours = read_recording(in, rate);
            ASSERT_TRUE(ours.ok());
            EXPECT_EQ(sox_rate, rate);
            EXPECT_NEAR(double(ours.samples.size()), double(reference.size()), 2.0);
            // The first and last 10 ms, where the filters start and stop,
            // are left out.
            const double snr = snr_db(reference, as_floats(ours.samples), rate / 100);
            EXPECT_GE(snr, 40.0) << signal.rate << " Hz, " << signal.channels << " channels to "
                                 << rate;
        }
    }
}

// What is refused, and in which words; an empty recording is an empty clip.
TEST(ReadRecording, RefusesWhatItCannotRead) {
    const TempDir dir;
    write_file(dir.file("text.wav"), {'h', 'e', 'l', 'l', 'o', '\n'});
    write_recording(dir.file("whole.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                    sweep(44100, 2, 3.0, 8000));
    std::vector<std::uint8_t> flac = read_file(dir.file("whole.flac"));
    flac.resize(flac.size() / 3);
    write_file(dir.file("cut.flac"), flac);
    write_recording(dir.file("empty.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, Signal{8000, 2, {}});
    // 90000 samples at 1000 Hz are 69 million at 768000 Hz: more than a
    // clip holds, known from the header before anything is read.
    write_recording(dir.file("long.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                    tone(1000, 1, 90.0, 100));
    struct Case {
        const char* name;
        std::uint32_t rate;
        ErrorCode code;
        std::string detail; // its beginning
    };
    const Case cases[] = {
        {"text.wav", 8000, ErrorCode::wav_refused,
         "not a sound file pev can read (format not recognised)"},
        {"cut.flac", 8000, ErrorCode::wav_refused,
         "not a sound file pev can read (it is cut short after "},
        {"missing.ogg", 8000, ErrorCode::wav_refused, "cannot open it: No such file"},
        {".", 8000, ErrorCode::wav_refused, "cannot read it: it is not a seekable file"},
        {"long.wav", 768000, ErrorCode::clip_too_long, ""},
    };
    for (const Case& c : cases) {
        const sound::Recording got = read_recording(dir.file(c.name), c.rate);
        EXPECT_EQ(got.error.code, c.code) << c.name;
        EXPECT_EQ(got.error.detail.substr(0, c.detail.size()), c.detail) << c.name;
        EXPECT_EQ(got.error.subject, dir.file(c.name));
    }
    EXPECT_EQ(read_recording(dir.file("long.wav"), 768000).error.value, 69120000u);
    const sound::Recording empty = read_recording(dir.file("empty.wav"), 22050);
    EXPECT_TRUE(empty.ok()) << empty.error.detail;
    EXPECT_TRUE(empty.samples.empty());
}

} // namespace
} // namespace pev::test
