#pragma once
// Any recording libsndfile reads, as the 16-bit mono samples of a clip:
// mixed down to mono (the mean of its channels), resampled by libsoxr to
// the rate asked for, and brought to 16 bits with triangular dither (see
// quantiser.hpp). The recording is read, converted and handed on a run at a
// time, so memory does not grow with its length.
//
// Two ways in: RecordingConverter for a packing run (it streams into the
// packer's encoder), and read_recording for a front end that wants the
// samples of one file by its path, such as a file saved into a mounted
// archive.

#include "pack/input_converter.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace pev::sound {

class RecordingConverter final : public pack::InputConverter {
  public:
    explicit RecordingConverter(bool dither = true) : dither_(dither) {}

    Error convert(const std::string& path, const pack::ConvertTarget& target,
                  pack::SampleSink& sink, pack::Conversion& done) const override;

  private:
    bool dither_;
};

struct Recording {
    std::vector<std::int16_t> samples;
    std::uint32_t rate = 0;
    std::string description;   // "48000 Hz stereo 24-bit FLAC -> 22050 Hz mono"
    std::uint64_t clipped = 0; // samples clipped at full scale
    // Why the file was refused, ok() when it was read: wav_refused (its
    // `detail` reads "not a sound file pev can read (REASON)" or "cannot
    // open it: ..."), or clip_too_long. A front end words it as the packers
    // do, with cli::pack_error_text ("NAME: REASON").
    Error error;

    bool ok() const { return error.ok(); }
};

// The recording at `path` (UTF-8) as 16-bit mono samples at `rate` (0: its
// own rate). Refused when it is longer than one clip may be.
Recording read_recording(const std::string& path, std::uint32_t rate, bool dither = true);

} // namespace pev::sound
