#pragma once
// One clip written as a sound file by libsndfile (FLAC, Ogg Vorbis, Opus,
// MP3, AIFF), through an OutputFile: complete under its name or not there
// at all, as the WAV files are. libsndfile writes through pev's own calls
// (its virtual I/O), which also lets a clip be made in memory for standard
// output. WAV files never come here: pev writes those itself, byte for
// byte as Pev2wav does.

#include "common/error.hpp"
#include "platform/output_file.hpp"
#include "sound/sound_formats.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pev::sound {

// Whether this build's libsndfile writes `format` (mono, at a rate the
// format takes); WAV always.
bool can_write(SoundFormat format);

// The clip's samples: 16-bit as decoded (written exactly), or floats at
// full scale +-1.0 (resampled), which the lossy codecs take as they are and
// the others after dither to 16 bits.
struct ClipSamples {
    std::span<const std::int16_t> exact;
    std::span<const float> resampled;
    bool dither = true; // when floats are brought to 16 bits
};

// Writes `samples` at `rate` as a `format` file at `path` (UTF-8),
// replacing an existing one only when asked. Errors are those of
// write_wav_file; a refusal of libsndfile's is cannot_write with its words
// in `detail`.
Error write_sound_file(const std::string& path, SoundFormat format, std::uint32_t rate,
                       const ClipSamples& samples, bool replace, std::uint64_t* size = nullptr,
                       NameSeen seen = NameSeen::unknown);

// The same file's bytes in memory (for standard output, which may be a pipe
// an encoder could not go back in); the error's subject is empty.
Error encode_sound_file(SoundFormat format, std::uint32_t rate, const ClipSamples& samples,
                        std::vector<std::uint8_t>& bytes);

} // namespace pev::sound
