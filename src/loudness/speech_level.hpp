#pragma once
// The RMS level of the speech in a clip: the mean square over its 10 ms
// frames that are within 40 dB of its loudest frame and above -85 dBFS, so
// that the pauses between words and the noise floor do not count. It stands
// in for the integrated loudness where the gate leaves nothing (a clip under
// 400 ms, or a very quiet one), and is compared only with itself: a clip is
// matched to another by speech level only when both are measured so.
//
// Also keeps the sample peak. Samples are taken a run at a time.

#include "loudness/clip_loudness.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace pev::loudness {

class SpeechLevel {
  public:
    explicit SpeechLevel(std::uint32_t rate);

    void add(std::span<const std::int16_t> samples);

    // The speech level (none when no frame holds speech), the peak and the
    // sample count, into `loudness`.
    void finish(ClipLoudness& loudness) const;

  private:
    struct Frame {
        double squares = 0.0; // sum of squared samples, full scale 1.0
        std::uint32_t count = 0;
    };
    std::uint32_t frame_length_;
    std::vector<Frame> frames_;
    std::uint32_t peak_ = 0;
    std::uint64_t samples_ = 0;
};

} // namespace pev::loudness
