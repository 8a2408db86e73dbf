// Re-voicing as people do it: a folder of 50 new recordings, at levels from
// whispered to shouted and in five formats and rates, replaces 50 of an
// archive's 80 clips in one `pev replace --from DIR --match-loudness`. Clip
// by clip, each new one must have the loudness of the one it replaced
// (within 0.1 LU, by pev's meter and by ffmpeg's ebur128 filter on the
// extracted files), and every other clip must be stored as it was.

#include "archive/archive_reader.hpp"
#include "archive/byte_source.hpp"
#include "pack/stored_clip.hpp"
#include "support/archive_builder.hpp"
#include "support/ffmpeg_loudness.hpp"
#include "support/packed_clips.hpp"
#include "support/process.hpp"
#include "support/recordings.hpp"
#include "support/speech_like.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sndfile.h>

namespace pev::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRate = 22050;
constexpr std::size_t kClips = 80;
constexpr std::size_t kReplaced = 50;

// The formats the recordings come in, taken in turn.
struct Format {
    const char* extension;
    int format;
    std::uint32_t rate;
    int channels;
};
constexpr Format kFormats[] = {
    {".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 1},   // packed exactly as it is
    {".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2},   // converted
    {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1}, // converted
    {".aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, kRate, 2}, // mixed down
    {".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 32000, 1},   // lossy, resampled
};

Signal signal_of(const std::vector<std::int16_t>& samples, std::uint32_t rate, int channels) {
    Signal signal;
    signal.rate = rate;
    signal.channels = channels;
    for (const std::int16_t sample : samples) {
        for (int c = 0; c < channels; ++c) {
            signal.samples.push_back(static_cast<float>(sample) / 32768.0f);
        }
    }
    return signal;
}

std::string pev() {
    return PEV_BINARY_DIR "/pev";
}

nlohmann::json listed_loudness(const TempDir& dir, const std::string& archive) {
    const ProcessResult listed =
        run_process(pev(), {"list", "--json", "--loudness", archive}, dir.path().string());
    EXPECT_EQ(listed.status, 0) << listed.err;
    return nlohmann::json::parse(listed.out);
}

TEST(Revoicing, FiftyRecordingsMatchedInOneCommand) {
    const TempDir dir;
    // The archive: clips of 1 to 4 s at levels 30 dB apart.
    std::vector<std::vector<std::int16_t>> clips;
    for (std::size_t i = 0; i < kClips; ++i) {
        clips.push_back(speech_like({.rate = kRate,
                                     .seconds = 1.0 + static_cast<double>(i % 7) * 0.5,
                                     .peak = 0.02 + 0.6 * static_cast<double>(i % 9) / 8.0,
                                     .seed = static_cast<unsigned>(100 + i),
                                     .pitch = 100.0 + 15.0 * static_cast<double>(i % 6)}));
    }
    write_file(dir.file("A.pev"), packed_archive(clips, kRate));
    // The new recordings, for every clip but those whose position is a
    // multiple of 8 or 5 (30 of 80), at other levels and lengths.
    fs::create_directories(dir.path() / "new");
    std::set<std::size_t> replaced;
    for (std::size_t i = 0; i < kClips && replaced.size() < kReplaced; ++i) {
        if ((i + 1) % 8 == 0 || (i + 1) % 5 == 0) {
            continue;
        }
        const Format& format = kFormats[replaced.size() % std::size(kFormats)];
        const std::vector<std::int16_t> samples =
            speech_like({.rate = format.rate,
                         .seconds = 1.2 + static_cast<double>(i % 5) * 0.6,
                         .peak = 0.03 + 0.7 * static_cast<double>((i * 7) % 11) / 10.0,
                         .seed = static_cast<unsigned>(500 + i),
                         .pitch = 120.0 + 20.0 * static_cast<double>(i % 4)});
        char name[32];
        std::snprintf(name, sizeof name, "new/A_%04zu%s", i + 1, format.extension);
        write_recording(dir.file(name), format.format,
                        signal_of(samples, format.rate, format.channels));
        replaced.insert(i);
    }
    ASSERT_EQ(replaced.size(), kReplaced);

    const ProcessResult run =
        run_process(pev(), {"replace", "A", "--from", "new", "--match-loudness", "-o", "B", "-q"},
                    dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;

    const nlohmann::json before = listed_loudness(dir, "A");
    const nlohmann::json after = listed_loudness(dir, "B");
    ASSERT_EQ(after["clips"].size(), kClips);
    const ProcessResult extracted =
        run_process(pev(), {"extract", "B", "-q", "-o", "B-wav"}, dir.path().string());
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    const bool ffmpeg = have_ffmpeg();

    const std::vector<std::uint8_t> old_bytes = read_file(dir.file("A.pev"));
    const std::vector<std::uint8_t> new_bytes = read_file(dir.file("B.pev"));
    const archive::MemorySource old_source(old_bytes);
    const archive::MemorySource new_source(new_bytes);
    const archive::ArchiveReader old_reader(old_source);
    const archive::ArchiveReader new_reader(new_source);
    archive::ClipBuffers old_buffers;
    archive::ClipBuffers new_buffers;
    for (std::size_t i = 0; i < kClips; ++i) {
        const double old_lufs = before["clips"][i]["loudness_lufs"].get<double>();
        if (replaced.count(i) == 0) {
            pack::StoredClip old_clip;
            pack::StoredClip new_clip;
            ASSERT_TRUE(pack::read_stored_clip(old_reader, i, old_buffers, old_clip).ok());
            ASSERT_TRUE(pack::read_stored_clip(new_reader, i, new_buffers, new_clip).ok());
            EXPECT_TRUE(std::ranges::equal(old_clip.block_sizes, new_clip.block_sizes)) << i;
            EXPECT_TRUE(std::ranges::equal(old_clip.bytes, new_clip.bytes)) << i;
            EXPECT_EQ(new_reader.row(i).id, old_reader.row(i).id) << i;
            continue;
        }
        EXPECT_NEAR(after["clips"][i]["loudness_lufs"].get<double>(), old_lufs, 0.1) << i;
        if (ffmpeg) {
            char name[32];
            std::snprintf(name, sizeof name, "B-wav/B_%04zu.wav", i + 1);
            const std::optional<double> theirs = ffmpeg_integrated(dir.file(name));
            ASSERT_TRUE(theirs) << name;
            EXPECT_NEAR(*theirs, old_lufs, 0.1) << name;
        }
    }
}

} // namespace
} // namespace pev::test
