#pragma once
// Reads 16-bit mono PCM WAV files as other programs write them: chunks in any
// order, LIST, fact and other chunks skipped, odd-sized chunks padded to an
// even length, the extensible format header with the PCM sub-format, and a
// data chunk that claims more bytes than the file holds (the samples present
// are taken and a warning says so). Everything else is refused with a message
// that says what the file is.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pev::wav {

struct WavClip {
    std::uint32_t sample_rate = 0;
    std::vector<std::int16_t> samples; // empty when they were left as bytes
    // The samples as the file holds them (little-endian pairs), inside the
    // bytes that were parsed: valid as long as those are.
    std::span<const std::uint8_t> sample_bytes;
    std::vector<std::string> warnings; // what was taken on trust, for the user
};

struct WavReadResult {
    WavClip clip;
    std::string error; // empty when the file was accepted

    bool ok() const { return error.empty(); }
};

// What to make of the samples: a vector of them, or only their bytes.
enum class Samples { copied, left_as_bytes };

// Parses a whole WAV file held in memory. Never reads outside `bytes` and
// never holds more than bytes.size() bytes of samples. The samples go into
// `reuse`, whose memory serves again when it is large enough, unless they
// are left as bytes.
WavReadResult parse_wav(std::span<const std::uint8_t> bytes, std::vector<std::int16_t> reuse = {},
                        Samples samples = Samples::copied);

// Memory kept from file to file by a caller that reads many: the file's
// bytes (only grows), and a sample vector handed back for the next clip.
struct WavReadBuffers {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
    std::vector<std::int16_t> samples;
};

// Reads the file at `path` (a UTF-8 name) and parses it.
WavReadResult read_wav_file(const std::string& path);
// With `buffers`, the sample bytes are those of buffers.bytes, valid until
// the next file is read into them.
WavReadResult read_wav_file(const std::string& path, WavReadBuffers& buffers,
                            Samples samples = Samples::copied);

} // namespace pev::wav
