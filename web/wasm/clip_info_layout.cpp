// What the page needs beyond the public C library: reading a dropped WAV
// file exactly as the packer reads its inputs, so the page accepts and
// refuses the same files as Wav2pev, for the same reasons.

#include "pev/pev.h"
#include "wav/wav_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>

// The page reads pev_clip_info straight from the module's memory at these
// offsets (wasm32); a change of the struct must show up here first.
static_assert(offsetof(pev_clip_info, entry_id) == 0);
static_assert(offsetof(pev_clip_info, block_count) == 2);
static_assert(offsetof(pev_clip_info, silent_blocks) == 4);
static_assert(offsetof(pev_clip_info, raw_blocks) == 8);
static_assert(offsetof(pev_clip_info, delta_blocks) == 12);
static_assert(offsetof(pev_clip_info, stored_bytes) == 16);
static_assert(offsetof(pev_clip_info, sample_count) == 24);
static_assert(offsetof(pev_clip_info, problem) == 32);
static_assert(sizeof(pev_clip_info) == 40);

struct pev_web_wav {
    pev::wav::WavReadResult read;
};

extern "C" {

// Parses a whole WAV file; NULL only when memory ran out. The result holds
// either an error or the clip, and is released with pev_web_wav_free.
pev_web_wav* pev_web_wav_parse(const std::uint8_t* bytes, std::size_t size) {
    try {
        return new pev_web_wav{pev::wav::parse_wav(std::span<const std::uint8_t>(bytes, size))};
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Why the file cannot be packed ("it is 8-bit mono PCM; ..."), or "".
const char* pev_web_wav_error(const pev_web_wav* wav) {
    return wav->read.error.c_str();
}

std::uint32_t pev_web_wav_rate(const pev_web_wav* wav) {
    return wav->read.clip.sample_rate;
}

const std::int16_t* pev_web_wav_samples(const pev_web_wav* wav) {
    return wav->read.clip.samples.data();
}

std::size_t pev_web_wav_sample_count(const pev_web_wav* wav) {
    return wav->read.clip.samples.size();
}

// What was taken on trust, such as a data chunk longer than the file.
std::size_t pev_web_wav_warning_count(const pev_web_wav* wav) {
    return wav->read.clip.warnings.size();
}

const char* pev_web_wav_warning(const pev_web_wav* wav, std::size_t index) {
    return wav->read.clip.warnings[index].c_str();
}

void pev_web_wav_free(pev_web_wav* wav) {
    delete wav;
}

} // extern "C"
