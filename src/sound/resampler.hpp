#pragma once
// Mono samples from one rate to another through libsoxr at its very high
// quality (linear phase, its own delay taken out), a run at a time, so a
// long recording never needs to be held whole. One thread: libsoxr is asked
// for none of its own.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

struct soxr;

namespace pev::sound {

class Resampler {
  public:
    using Emit = std::function<void(std::span<const float> samples)>;

    // Throws std::bad_alloc when libsoxr cannot be set up (it fails only
    // for want of memory with valid rates).
    Resampler(double input_rate, double output_rate);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Takes `samples` and hands what is ready to `emit`.
    void push(std::span<const float> samples, const Emit& emit);
    // Hands over the rest once the input has ended.
    void flush(const Emit& emit);

  private:
    soxr* soxr_ = nullptr;
    std::vector<float> out_;
};

// A whole clip resampled (for output, where the clip is in memory anyway).
std::vector<float> resample_clip(std::span<const std::int16_t> samples, std::uint32_t input_rate,
                                 std::uint32_t output_rate);

} // namespace pev::sound
