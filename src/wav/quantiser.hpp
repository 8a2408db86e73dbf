#pragma once
// Brings samples in floating point (full scale at +-1.0, as libsndfile and
// libsoxr give them, and as a change of gain leaves 16-bit ones) to 16 bits.
//
// Rounding alone would turn the error of every sample into distortion that
// follows the signal; triangular (TPDF) dither, the sum of two independent
// uniform values of one step each, makes it a steady, faint noise instead.
// A sample that already falls on a 16-bit step is taken as it is, so a
// 16-bit recording that needs no resampling comes through exactly, and
// digital silence stays silence (which packs as silent blocks of no bytes).
// The noise comes from a fixed seed, so the same recording gives the same
// archive every time. Samples past full scale are clipped and counted.

#include <cstdint>
#include <span>

namespace pev::wav {

class Quantiser {
  public:
    explicit Quantiser(bool dither) : dither_(dither) {}

    // Writes `in.size()` samples to `out`, which holds at least as many.
    void quantise(std::span<const float> in, std::span<std::int16_t> out);

    std::uint64_t clipped() const { return clipped_; }

  private:
    // Uniform in [0, 1): xorshift32, plenty for noise of one step.
    float next_uniform();

    bool dither_;
    std::uint32_t state_ = 0x9E3779B9u;
    std::uint64_t clipped_ = 0;
};

} // namespace pev::wav
