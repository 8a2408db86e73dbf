#pragma once
// Inputs the packers' own WAV reader does not take as they are: recordings
// in other formats, with more channels or other sample sizes, or at another
// rate than the archive's. A front end that links a sound library hands the
// packing run an InputConverter, which turns such a file into 16-bit mono
// samples at the archive's rate; without one (Wav2pev, libpev) only 16-bit
// mono WAV files are taken, as always. A 16-bit mono WAV file at the
// archive's rate never reaches the converter, so its clip is the same
// whether a converter is there or not.
//
// The samples are handed over a run at a time, so a long recording is never
// held whole: the packer encodes them as they come (see ClipEncoder).

#include "common/error.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pev::pack {

// Takes the samples of one clip, a run at a time, in order.
class SampleSink {
  public:
    virtual void take(std::span<const std::int16_t> samples) = 0;

  protected:
    ~SampleSink() = default;
};

struct ConvertTarget {
    // The rate the samples are to have; 0: the recording's own.
    std::uint32_t rate = 0;
    // False: a recording at another rate than `rate` is refused
    // (rate_mismatch: `value` its rate, `limit` this one) rather than
    // resampled, since nobody chose the rate.
    bool resample = true;
};

// What a conversion did, for the front end to tell.
struct Conversion {
    std::uint32_t rate = 0;    // the rate of the samples handed over
    std::string description;   // "48000 Hz stereo 24-bit FLAC -> 22050 Hz mono"
    std::uint64_t clipped = 0; // samples that went past full scale and were clipped
};

class InputConverter {
  public:
    virtual ~InputConverter() = default;

    // Reads the recording at `path` (UTF-8) and hands its samples, mono,
    // 16-bit and at the target rate, to `sink`. A file it cannot read is
    // refused with wav_refused (`detail` says why); an error's subject is
    // `path`.
    virtual Error convert(const std::string& path, const ConvertTarget& target, SampleSink& sink,
                          Conversion& done) const = 0;
};

} // namespace pev::pack
