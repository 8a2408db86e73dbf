#include "harness/capi_harness.hpp"

#include "pev/pev.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace pev::fuzz {
namespace {

using Samples = std::vector<std::int16_t>;
using Archive = std::unique_ptr<pev_archive, void (*)(pev_archive*)>;

// Decoding stops once this many samples were checked, so that an input whose
// thousands of rows share one huge block table still runs quickly.
constexpr std::uint64_t kSampleBudget = std::uint64_t{1} << 20;
constexpr std::size_t kGuard = 16;
constexpr std::int16_t kFill = 0x5A5A;

bool is_open_error(pev_status status) {
    return status == PEV_ERR_NOT_AN_ARCHIVE || status == PEV_ERR_TOO_MANY_CLIPS ||
           status == PEV_ERR_NEGATIVE_COUNT || status == PEV_ERR_TABLE_CUT_SHORT;
}

bool is_clip_problem(pev_status status) {
    return status >= PEV_ERR_BLOCK_TABLE_PAST_END && status <= PEV_ERR_TOO_LONG_FOR_WAV;
}

std::uint32_t u32le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) |
           static_cast<std::uint32_t>(p[3]) << 24;
}

// Decodes clip `index` of `count` samples into exact and one-short buffers,
// each followed by guard samples; `samples` gets the clip.
std::string check_samples(const pev_archive* archive, std::size_t index, std::size_t count,
                          Samples& samples) {
    std::size_t size = 0;
    const pev_status asked = pev_decode_clip(archive, index, nullptr, 0, &size);
    if (asked != (count == 0 ? PEV_OK : PEV_ERR_BUFFER_TOO_SMALL) || size != count) {
        return "asking a clip's size gave " + std::to_string(asked) + " and " +
               std::to_string(size) + " for " + std::to_string(count) + " samples";
    }
    if (count > 0) {
        Samples short_buffer(count - 1 + kGuard, kFill);
        if (pev_decode_clip(archive, index, short_buffer.data(), count - 1, &size) !=
                PEV_ERR_BUFFER_TOO_SMALL ||
            size != count ||
            std::any_of(short_buffer.begin(), short_buffer.end(),
                        [](std::int16_t s) { return s != kFill; })) {
            return "a buffer one sample short was not refused untouched";
        }
    }
    Samples buffer(count + kGuard, kFill);
    if (pev_decode_clip(archive, index, buffer.data(), count, &size) != PEV_OK || size != count ||
        std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(count), buffer.end(),
                    [](std::int16_t s) { return s != kFill; })) {
        return "decoding into an exact buffer failed or wrote past it";
    }
    buffer.resize(count);
    samples = std::move(buffer);
    return {};
}

// The WAV image of clip `index`: size asked first, refused one byte short,
// and its header and data matching `samples` at `rate`.
std::string check_wav(const pev_archive* archive, std::size_t index, const Samples& samples,
                      std::uint32_t rate) {
    const std::size_t expected = 44 + 2 * samples.size();
    std::size_t size = 0;
    if (pev_decode_clip_wav(archive, index, nullptr, 0, &size) != PEV_ERR_BUFFER_TOO_SMALL ||
        size != expected) {
        return "asking a WAV image's size gave " + std::to_string(size) + ", not " +
               std::to_string(expected);
    }
    std::vector<std::uint8_t> image(expected + kGuard, 0xA5);
    if (pev_decode_clip_wav(archive, index, image.data(), expected - 1, &size) !=
            PEV_ERR_BUFFER_TOO_SMALL ||
        std::any_of(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xA5; })) {
        return "a WAV buffer one byte short was not refused untouched";
    }
    if (pev_decode_clip_wav(archive, index, image.data(), expected, &size) != PEV_OK ||
        size != expected ||
        std::any_of(image.begin() + static_cast<std::ptrdiff_t>(expected), image.end(),
                    [](std::uint8_t b) { return b != 0xA5; })) {
        return "decoding a WAV image failed or wrote past it";
    }
    const std::uint8_t* h = image.data();
    if (std::memcmp(h, "RIFF", 4) != 0 || u32le(h + 4) != expected - 8 ||
        std::memcmp(h + 8, "WAVEfmt ", 8) != 0 || u32le(h + 24) != rate ||
        std::memcmp(h + 36, "data", 4) != 0 || u32le(h + 40) != expected - 44) {
        return "a WAV image's header does not describe it";
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (static_cast<std::int16_t>(h[44 + 2 * i] | h[45 + 2 * i] << 8) != samples[i]) {
            return "a WAV image's sample " + std::to_string(i) + " differs from the decoded one";
        }
    }
    return {};
}

// The streaming reader gives exactly `samples`: read in uneven pieces from
// the start, then after seeks to the end, the middle and an odd place.
std::string check_stream(const pev_archive* archive, std::size_t index, const Samples& samples) {
    pev_reader* opened = nullptr;
    if (pev_reader_open(archive, index, &opened) != PEV_OK) {
        return "no reader for sound clip " + std::to_string(index);
    }
    const std::unique_ptr<pev_reader, void (*)(pev_reader*)> reader(opened, pev_reader_close);
    std::uint64_t length = 0;
    if (pev_reader_length(reader.get(), &length) != PEV_OK || length != samples.size()) {
        return "the reader's length differs from the decoded count";
    }
    Samples piece(1500 + kGuard);
    const auto compare_from = [&](std::uint64_t at, std::size_t size) -> std::string {
        std::size_t got = 0;
        std::fill(piece.begin(), piece.end(), kFill);
        if (pev_reader_read(reader.get(), piece.data(), size, &got) != PEV_OK ||
            got != std::min<std::uint64_t>(size, length - at) ||
            !std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got),
                        samples.begin() + static_cast<std::ptrdiff_t>(at)) ||
            std::any_of(piece.begin() + static_cast<std::ptrdiff_t>(size), piece.end(),
                        [](std::int16_t s) { return s != kFill; })) {
            return "streamed samples from " + std::to_string(at) + " differ";
        }
        return {};
    };
    std::uint64_t at = 0;
    for (std::size_t size = 1; at < length; size = size * 3 % 1499 + 1) {
        if (std::string broken = compare_from(at, size); !broken.empty()) {
            return broken;
        }
        at = std::min<std::uint64_t>(length, at + size);
    }
    for (const std::uint64_t to : {length, length / 2, length / 3 + 1}) {
        if (to > length || pev_reader_seek(reader.get(), to) != PEV_OK) {
            continue;
        }
        if (std::string broken = compare_from(to, 1500); !broken.empty()) {
            return broken;
        }
    }
    return pev_reader_seek(reader.get(), length + 1) == PEV_ERR_INVALID_ARGUMENT
               ? ""
               : "a seek past the end was taken";
}

std::string check_clip(const pev_archive* archive, std::size_t index, std::uint32_t rate,
                       Samples& samples) {
    pev_clip_info info{};
    if (pev_get_clip_info(archive, index, &info) != PEV_OK) {
        return "no info for clip " + std::to_string(index);
    }
    if (info.problem != PEV_OK) {
        std::size_t size = 7;
        pev_reader* reader = nullptr;
        if (!is_clip_problem(info.problem) || info.sample_count != 0 ||
            pev_decode_clip(archive, index, nullptr, 0, &size) != info.problem ||
            pev_decode_clip_wav(archive, index, nullptr, 0, &size) != info.problem || size != 7 ||
            pev_reader_open(archive, index, &reader) != info.problem || reader != nullptr) {
            return "refused clip " + std::to_string(index) + " was not refused the same everywhere";
        }
        return {};
    }
    if (info.silent_blocks + info.raw_blocks + info.delta_blocks != info.block_count ||
        info.sample_count > 65534 * std::uint64_t{info.block_count}) {
        return "clip " + std::to_string(index) + "'s info does not add up";
    }
    if (std::string broken = check_samples(archive, index, info.sample_count, samples);
        !broken.empty()) {
        return broken;
    }
    if (std::string broken = check_stream(archive, index, samples); !broken.empty()) {
        return broken;
    }
    return check_wav(archive, index, samples, rate);
}

// Packs `clips` (the decoded clips, an empty one for each refused clip)
// like `archive` and reads them back: the same ids, the same kept header
// bytes, and the same samples, an odd-length clip with its last repeated.
std::string check_repack(const pev_archive* archive, std::span<const std::uint8_t> original,
                         std::uint32_t rate, const std::vector<Samples>& clips) {
    pev_writer* made = nullptr;
    if (pev_writer_new_like(rate, archive, &made) != PEV_OK) {
        return "no writer like the archive";
    }
    const std::unique_ptr<pev_writer, void (*)(pev_writer*)> writer(made, pev_writer_free);
    for (const Samples& clip : clips) {
        if (pev_writer_add_clip(writer.get(), clip.data(), clip.size()) != PEV_OK) {
            return "a decoded clip could not be packed";
        }
    }
    void* bytes = nullptr;
    std::size_t size = 0;
    if (pev_writer_finish_memory(writer.get(), &bytes, &size) != PEV_OK) {
        return "the repacked archive could not be finished";
    }
    const std::unique_ptr<void, void (*)(void*)> packed(bytes, pev_free);
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    for (const std::size_t at :
         {6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 21, 22, 23, 28, 29, 30, 31}) {
        if (first[at] != original[at]) {
            return "the repacked archive lost header byte " + std::to_string(at);
        }
    }
    pev_archive* reopened = nullptr;
    if (pev_open_memory(bytes, size, &reopened) != PEV_OK) {
        return "the repacked archive does not open";
    }
    const Archive repacked(reopened, pev_close);
    std::uint32_t repacked_rate = 0;
    pev_sample_rate(repacked.get(), &repacked_rate);
    if (repacked_rate != rate) {
        return "the repacked archive changed the rate";
    }
    for (std::size_t i = 0; i < clips.size(); ++i) {
        pev_clip_info before{}, after{};
        Samples back(clips[i].size() + 1);
        std::size_t count = 0;
        if (pev_get_clip_info(archive, i, &before) != PEV_OK ||
            pev_get_clip_info(repacked.get(), i, &after) != PEV_OK ||
            before.entry_id != after.entry_id ||
            pev_decode_clip(repacked.get(), i, back.data(), back.size(), &count) != PEV_OK) {
            return "repacked clip " + std::to_string(i) + " lost its id or cannot be decoded";
        }
        Samples expected = clips[i];
        if (expected.size() % 2 != 0) {
            expected.push_back(expected.back());
        }
        back.resize(count);
        if (back != expected) {
            return "repacked clip " + std::to_string(i) + " does not give its samples back";
        }
    }
    return {};
}

// Copies every clip into a new writer as the archive stores it and reads
// them back: a copied clip decodes exactly as it does in the archive, and a
// refused one is refused with its problem and leaves the writer as it was.
std::string check_copy(const pev_archive* archive, std::uint32_t rate,
                       const std::vector<Samples>& clips) {
    pev_writer* made = nullptr;
    if (pev_writer_new(rate, &made) != PEV_OK) {
        return "no writer at the archive's rate";
    }
    const std::unique_ptr<pev_writer, void (*)(pev_writer*)> writer(made, pev_writer_free);
    std::vector<std::size_t> copied;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        pev_clip_info info{};
        pev_get_clip_info(archive, i, &info);
        const pev_status status = pev_writer_copy_clip(writer.get(), archive, i);
        if (status != info.problem) {
            return "clip " + std::to_string(i) + " copied with status " + std::to_string(status);
        }
        if (status == PEV_OK) {
            copied.push_back(i);
        }
    }
    void* bytes = nullptr;
    std::size_t size = 0;
    if (pev_writer_finish_memory(writer.get(), &bytes, &size) != PEV_OK) {
        return "the archive of copied clips could not be finished";
    }
    const std::unique_ptr<void, void (*)(void*)> packed(bytes, pev_free);
    pev_archive* reopened = nullptr;
    if (pev_open_memory(bytes, size, &reopened) != PEV_OK) {
        return "the archive of copied clips does not open";
    }
    const Archive copy(reopened, pev_close);
    std::size_t count = 0;
    if (pev_clip_count(copy.get(), &count) != PEV_OK || count != copied.size()) {
        return "the archive of copied clips lost or gained clips";
    }
    for (std::size_t k = 0; k < copied.size(); ++k) {
        const Samples& expected = clips[copied[k]];
        Samples back(expected.size() + 1);
        std::size_t got = 0;
        if (pev_decode_clip(copy.get(), k, back.data(), back.size(), &got) != PEV_OK ||
            !std::equal(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(got),
                        expected.begin(), expected.end())) {
            return "copied clip " + std::to_string(copied[k]) + " does not decode as its source";
        }
    }
    return {};
}

// Bytes in memory read through callbacks that bring at most 7 bytes a call.
std::int64_t read_a_little(void* user, std::uint64_t offset, void* buffer, std::size_t size) {
    const auto& bytes = *static_cast<std::span<const std::uint8_t>*>(user);
    const std::size_t count = std::min<std::size_t>({size, 7, bytes.size() - offset});
    std::memcpy(buffer, bytes.data() + offset, count);
    return static_cast<std::int64_t>(count);
}

// The archive through callbacks opens alike and describes its clips alike.
std::string check_callbacks(const pev_archive* archive, std::span<const std::uint8_t> bytes,
                            pev_status memory_status, std::size_t count) {
    pev_archive* opened = nullptr;
    const pev_status status = pev_open_callbacks(read_a_little, bytes.size(), &bytes, &opened);
    const Archive through(opened, pev_close);
    if (status != memory_status) {
        return "through callbacks, opening gave " + std::to_string(status);
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(count, 4); ++i) {
        pev_clip_info expected{};
        pev_clip_details details{};
        details.struct_size = sizeof details;
        if (pev_get_clip_info(archive, i, &expected) != PEV_OK ||
            pev_get_clip_details(through.get(), i, &details) != PEV_OK ||
            details.sample_count != expected.sample_count || details.problem != expected.problem ||
            details.stored_bytes != expected.stored_bytes) {
            return "clip " + std::to_string(i) + " differs through callbacks";
        }
    }
    return {};
}

// Any bytes given as a WAV file are read or refused with a reason.
std::string check_wav_input(std::span<const std::uint8_t> bytes) {
    pev_wav* wav = nullptr;
    const pev_status status = pev_wav_read(bytes.data(), bytes.size(), &wav);
    const std::unique_ptr<pev_wav, void (*)(pev_wav*)> owned(wav, pev_wav_free);
    std::size_t count = 1;
    const std::int16_t* samples = pev_wav_samples(wav, &count);
    if (status == PEV_OK) {
        return *pev_wav_refusal(wav) == '\0' && (count == 0 || samples != nullptr)
                   ? ""
                   : "an accepted WAV file has a refusal or no samples";
    }
    return status == PEV_ERR_WAV_REFUSED && *pev_wav_refusal(wav) != '\0' && count == 0
               ? ""
               : "a refused WAV file gave " + std::to_string(status) + " without a reason";
}

} // namespace

std::string check_capi(std::span<const std::uint8_t> bytes) {
    if (std::string broken = check_wav_input(bytes); !broken.empty()) {
        return broken;
    }
    pev_archive* opened = nullptr;
    const pev_status status = pev_open_memory(bytes.data(), bytes.size(), &opened);
    if (status != PEV_OK) {
        if (std::string broken = check_callbacks(nullptr, bytes, status, 0); !broken.empty()) {
            return broken;
        }
        return is_open_error(status) && opened == nullptr
                   ? ""
                   : "opening gave " + std::to_string(status);
    }
    const Archive archive(opened, pev_close);
    std::size_t count = 0;
    std::uint32_t rate = 0;
    if (pev_clip_count(archive.get(), &count) != PEV_OK || count > 9999 ||
        pev_sample_rate(archive.get(), &rate) != PEV_OK || rate == 0) {
        return "count or rate unavailable";
    }
    pev_clip_info info;
    if (pev_get_clip_info(archive.get(), count, &info) != PEV_ERR_CLIP_INDEX) {
        return "a clip past the last was described";
    }
    if (std::string broken = check_callbacks(archive.get(), bytes, PEV_OK, count);
        !broken.empty()) {
        return broken;
    }
    std::vector<Samples> clips;
    std::uint64_t spent = 0;
    for (std::size_t i = 0; i < count && spent < kSampleBudget; ++i) {
        Samples samples;
        if (std::string broken = check_clip(archive.get(), i, rate, samples); !broken.empty()) {
            return broken;
        }
        spent += samples.size();
        clips.push_back(std::move(samples));
    }
    if (clips.size() != count) {
        return {};
    }
    if (std::string broken = check_copy(archive.get(), rate, clips); !broken.empty()) {
        return broken;
    }
    return check_repack(archive.get(), bytes, rate, clips);
}

} // namespace pev::fuzz
