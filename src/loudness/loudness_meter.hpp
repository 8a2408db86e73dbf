#pragma once
// A clip's loudness measured by libebur128 (ITU-R BS.1770-4 and EBU R128:
// K-weighting, 400 ms blocks overlapping by 75 %, the -70 LUFS and
// -10 LU gates), with its speech level and peak (speech_level.hpp). Part of
// pev_loudness, built where pkg-config finds libebur128; the rest of
// src/loudness/ needs only the standard library.

#include "loudness/clip_loudness.hpp"
#include "loudness/speech_level.hpp"

#include <cstdint>
#include <memory>
#include <span>

namespace pev::loudness {

class LoudnessMeter {
  public:
    // Samples at `rate` (a rate libebur128 refuses, under 16 Hz, gives no
    // integrated loudness). Throws std::bad_alloc when libebur128 cannot
    // get its memory.
    explicit LoudnessMeter(std::uint32_t rate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Takes the next run of samples; throws std::bad_alloc as above.
    void add(std::span<const std::int16_t> samples);

    ClipLoudness result() const;

  private:
    struct State;                  // libebur128's, whose type cannot be declared ahead
    std::unique_ptr<State> state_; // none at a rate libebur128 refuses
    SpeechLevel speech_;
};

// The loudness of a whole clip.
ClipLoudness measure(std::span<const std::int16_t> samples, std::uint32_t rate);

} // namespace pev::loudness
