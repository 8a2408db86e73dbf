// libpev 1.1: the streaming reader against whole-clip decoding, lengths from
// the scan, archives read through callbacks that fail, a file cut after it
// was opened, and WAV input.

#include "capi/capi_support.hpp"
#include "support/archive_builder.hpp"
#include "support/sample_archives.hpp"
#include "support/temp_dir.hpp"
#include "support/wav_builder.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace pev::test {
namespace {

const std::string kDemo = PEV_SOURCE_DIR "/examples/demo.pev";

using ReaderHandle = std::unique_ptr<pev_reader, void (*)(pev_reader*)>;

ReaderHandle open_reader(const pev_archive* archive, std::size_t index) {
    pev_reader* reader = nullptr;
    EXPECT_EQ(pev_reader_open(archive, index, &reader), PEV_OK);
    return {reader, pev_reader_close};
}

// An archive of clips packed from noise and silence of random lengths, so
// that every kind of block and block boundary comes up.
Bytes random_archive(std::mt19937& rng) {
    pev_writer* made = nullptr;
    EXPECT_EQ(pev_writer_new(16000, &made), PEV_OK);
    const WriterHandle writer(made, pev_writer_free);
    std::uniform_int_distribution<std::size_t> length(0, 9000);
    for (int clip = 0; clip < 4; ++clip) {
        std::vector<std::int16_t> samples = noise(length(rng), static_cast<unsigned>(rng()));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            // Quiet stretches, smooth stretches and loud noise.
            samples[i] = (i / 1500) % 3 == 0   ? std::int16_t{0}
                         : (i / 1500) % 3 == 1 ? static_cast<std::int16_t>(samples[i] / 64)
                                               : samples[i];
        }
        EXPECT_EQ(pev_writer_add_clip(writer.get(), samples.data(), samples.size()), PEV_OK);
    }
    void* bytes = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(pev_writer_finish_memory(writer.get(), &bytes, &size), PEV_OK);
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    Bytes archive(first, first + size);
    pev_free(bytes);
    return archive;
}

// Random reads and seeks over every clip give exactly the decoded samples.
void expect_streams_as_decoded(const pev_archive* archive, std::mt19937& rng) {
    std::size_t count = 0;
    ASSERT_EQ(pev_clip_count(archive, &count), PEV_OK);
    for (std::size_t clip = 0; clip < count; ++clip) {
        const std::vector<std::int16_t> expected = decode_samples(archive, clip);
        pev_clip_info info{};
        ASSERT_EQ(pev_get_clip_info(archive, clip, &info), PEV_OK);
        ASSERT_EQ(info.sample_count, expected.size()) << "the scan's count";
        const ReaderHandle reader = open_reader(archive, clip);
        std::uint64_t length = 0;
        ASSERT_EQ(pev_reader_length(reader.get(), &length), PEV_OK);
        ASSERT_EQ(length, expected.size());
        std::uniform_int_distribution<std::size_t> read_size(0, 3000);
        std::uniform_int_distribution<std::uint64_t> frame(0, length);
        std::uint64_t at = 0;
        std::vector<std::int16_t> buffer;
        for (int step = 0; step < 60; ++step) {
            if (step % 3 == 2) {
                at = frame(rng);
                ASSERT_EQ(pev_reader_seek(reader.get(), at), PEV_OK);
            }
            buffer.assign(read_size(rng), 0x5A5A);
            std::size_t got = 0;
            ASSERT_EQ(pev_reader_read(reader.get(), buffer.data(), buffer.size(), &got), PEV_OK);
            ASSERT_EQ(got, std::min<std::uint64_t>(buffer.size(), length - at));
            for (std::size_t i = 0; i < got; ++i) {
                ASSERT_EQ(buffer[i], expected[at + i]) << "clip " << clip << " sample " << at + i;
            }
            at += got;
            std::uint64_t told = 0;
            ASSERT_EQ(pev_reader_tell(reader.get(), &told), PEV_OK);
            ASSERT_EQ(told, at);
        }
        EXPECT_EQ(pev_reader_seek(reader.get(), length + 1), PEV_ERR_INVALID_ARGUMENT);
    }
}

TEST(CapiStreaming, ReadsAndSeeksGiveTheDecodedSamples) {
    std::mt19937 rng(1208);
    const Bytes three = build_archive(three_clip_archive());
    const Bytes demo = read_file(kDemo);
    expect_streams_as_decoded(open_bytes(three).get(), rng);
    expect_streams_as_decoded(open_bytes(demo).get(), rng);
    for (int round = 0; round < 3; ++round) {
        const Bytes bytes = random_archive(rng);
        expect_streams_as_decoded(open_bytes(bytes).get(), rng);
    }
}

// Callbacks over bytes in memory that fail from their `fail_from`th call on.
struct FailingSource {
    const Bytes* bytes;
    int calls = 0;
    int fail_from = 1 << 30;
    std::int64_t failure = -EIO;

    static std::int64_t read(void* user, std::uint64_t offset, void* buffer, std::size_t size) {
        auto& self = *static_cast<FailingSource*>(user);
        if (++self.calls >= self.fail_from) {
            return self.failure;
        }
        // Half of what is asked at most, as a pipe might give.
        const std::size_t count =
            std::min<std::size_t>((size + 1) / 2, self.bytes->size() - offset);
        std::memcpy(buffer, self.bytes->data() + offset, count);
        return static_cast<std::int64_t>(count);
    }
};

TEST(CapiCallbacks, ReadLikeMemoryAndFailWithTheirReason) {
    const Bytes demo = read_file(kDemo);
    FailingSource source{&demo};
    pev_archive* opened = nullptr;
    ASSERT_EQ(pev_open_callbacks(FailingSource::read, demo.size(), &source, &opened), PEV_OK);
    const ArchiveHandle archive(opened, pev_close);
    for (std::size_t clip = 0; clip < 3; ++clip) {
        EXPECT_EQ(decode_wav(archive.get(), clip), decode_wav(open_bytes(demo).get(), clip));
    }
    // Failing at every later call, whatever was read before: each call gives
    // PEV_ERR_IO and the reason, never samples.
    for (const std::int64_t failure : {std::int64_t{-EIO}, std::int64_t{-1}, std::int64_t{0}}) {
        source.failure = failure;
        for (int after = 0; after < 12; ++after) {
            FailingSource fresh{&demo, 0, after, failure};
            pev_archive* a = nullptr;
            errno = ENOTTY;
            const pev_status opened_status =
                pev_open_callbacks(FailingSource::read, demo.size(), &fresh, &a);
            const ArchiveHandle failing(a, pev_close);
            // -1 and a short read are failures with no reason: errno 0, not
            // EPERM (1) nor what errno held before.
            if (opened_status != PEV_OK) {
                EXPECT_EQ(opened_status, PEV_ERR_IO) << after;
                EXPECT_EQ(errno, failure == -EIO ? EIO : 0) << after;
                continue;
            }
            std::vector<std::int16_t> samples(200000);
            std::size_t count = 0;
            pev_clip_info info{};
            pev_reader* reader = nullptr;
            EXPECT_EQ(pev_get_clip_info(failing.get(), 2, &info), PEV_ERR_IO);
            EXPECT_EQ(pev_decode_clip(failing.get(), 1, samples.data(), samples.size(), &count),
                      PEV_ERR_IO);
            EXPECT_EQ(pev_reader_open(failing.get(), 0, &reader), PEV_ERR_IO);
            int os_error = -5;
            EXPECT_EQ(pev_last_os_error(failing.get(), &os_error), PEV_OK);
            EXPECT_EQ(os_error, failure == -EIO ? EIO : 0);
        }
    }
    // A reader opened while reads worked fails at the read that does not.
    FailingSource late{&demo};
    pev_archive* a = nullptr;
    ASSERT_EQ(pev_open_callbacks(FailingSource::read, demo.size(), &late, &a), PEV_OK);
    const ArchiveHandle failing(a, pev_close);
    const ReaderHandle reader = open_reader(failing.get(), 0);
    late.fail_from = late.calls + 1;
    std::vector<std::int16_t> samples(5000);
    std::size_t got = 99;
    EXPECT_EQ(pev_reader_read(reader.get(), samples.data(), samples.size(), &got), PEV_ERR_IO);
    EXPECT_LT(got, samples.size());
}

// Cut to 40000 bytes after opening: every clip that reached past that point
// fails with PEV_ERR_IO, however it is read, instead of decoding zeros.
TEST(CapiFiles, CutAfterOpeningGivesIoErrors) {
    const TempDir dir;
    const std::string path = dir.file("t.pev");
    write_file(path, read_file(kDemo));
    const ArchiveHandle archive = open_path(path);
    std::filesystem::resize_file(path, 40000);
    for (std::size_t clip = 0; clip < 3; ++clip) {
        std::size_t size = 0;
        pev_clip_info info{};
        pev_reader* reader = nullptr;
        EXPECT_EQ(pev_get_clip_info(archive.get(), clip, &info), PEV_ERR_IO) << clip;
        EXPECT_EQ(pev_decode_clip(archive.get(), clip, nullptr, 0, &size), PEV_ERR_IO);
        EXPECT_EQ(pev_decode_clip_wav(archive.get(), clip, nullptr, 0, &size), PEV_ERR_IO);
        EXPECT_EQ(pev_decode_clip_to_file(archive.get(), clip, dir.file("c.wav").c_str(), 0),
                  PEV_ERR_IO);
        EXPECT_EQ(pev_reader_open(archive.get(), clip, &reader), PEV_ERR_IO);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.wav")));
}

// A WAV image is decoded in place behind its header, also into a buffer at
// an odd address, where the samples cannot be stored as int16_t directly.
TEST(CapiDecode, WavImageAtAnOddAddress) {
    const ArchiveHandle archive = open_path(kDemo);
    const Bytes expected = decode_wav(archive.get(), 1);
    Bytes buffer(expected.size() + 1);
    std::size_t size = 0;
    ASSERT_EQ(pev_decode_clip_wav(archive.get(), 1, buffer.data() + 1, expected.size(), &size),
              PEV_OK);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin() + 1));
}

TEST(CapiInfo, DetailsFillWhatTheCallerHasRoomFor) {
    const ArchiveHandle archive = open_path(kDemo);
    pev_clip_info info{};
    ASSERT_EQ(pev_get_clip_info(archive.get(), 1, &info), PEV_OK);
    pev_clip_details details{};
    EXPECT_EQ(pev_get_clip_details(archive.get(), 1, &details), PEV_ERR_INVALID_ARGUMENT);
    details.struct_size = sizeof details;
    ASSERT_EQ(pev_get_clip_details(archive.get(), 1, &details), PEV_OK);
    EXPECT_EQ(details.struct_size, sizeof details);
    EXPECT_EQ(std::tie(details.entry_id, details.block_count, details.silent_blocks,
                       details.raw_blocks, details.delta_blocks, details.stored_bytes,
                       details.sample_count, details.problem),
              std::make_tuple(std::uint32_t{info.entry_id}, std::uint32_t{info.block_count},
                              info.silent_blocks, info.raw_blocks, info.delta_blocks,
                              info.stored_bytes, info.sample_count, info.problem));
    // Releasing NULL is harmless; releasing twice is forbidden (not tested).
    pev_close(nullptr);
    pev_reader_close(nullptr);
    pev_wav_free(nullptr);
}

TEST(CapiWav, ReadsWhatThePackerReadsAndSaysWhyNot) {
    const std::vector<std::int16_t> samples = noise(777, 5);
    const Bytes good = wav_file_bytes(samples, 32000);
    pev_wav* wav = nullptr;
    ASSERT_EQ(pev_wav_read(good.data(), good.size(), &wav), PEV_OK);
    std::size_t count = 0;
    const std::int16_t* read = pev_wav_samples(wav, &count);
    EXPECT_EQ(std::vector<std::int16_t>(read, read + count), samples);
    EXPECT_EQ(pev_wav_rate(wav), 32000u);
    EXPECT_STREQ(pev_wav_refusal(wav), "");
    EXPECT_EQ(pev_wav_warning_count(wav), 0u);
    EXPECT_EQ(pev_wav_warning(wav, 0), nullptr);
    pev_wav_free(wav);

    Bytes stereo = good;
    stereo[22] = 2; // two channels
    ASSERT_EQ(pev_wav_read(stereo.data(), stereo.size(), &wav), PEV_ERR_WAV_REFUSED);
    EXPECT_NE(std::string(pev_wav_refusal(wav)), "");
    EXPECT_EQ(pev_wav_samples(wav, &count), nullptr);
    EXPECT_EQ(count, 0u);
    pev_wav_free(wav);

    Bytes long_data = good;
    long_data[40] = 0xFF; // a data chunk longer than the file
    long_data[41] = 0xFF;
    ASSERT_EQ(pev_wav_read(long_data.data(), long_data.size(), &wav), PEV_OK);
    EXPECT_EQ(pev_wav_warning_count(wav), 1u);
    EXPECT_NE(pev_wav_warning(wav, 0), nullptr);
    pev_wav_free(wav);
}

} // namespace
} // namespace pev::test
