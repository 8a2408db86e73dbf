#include "wav/quantiser.hpp"

#include <cmath>

namespace pev::wav {

float Quantiser::next_uniform() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<float>(state_ >> 8) * (1.0f / 16777216.0f);
}

void Quantiser::quantise(std::span<const float> in, std::span<std::int16_t> out) {
    for (std::size_t i = 0; i < in.size(); ++i) {
        double value = static_cast<double>(in[i]) * 32768.0;
        if (dither_ && value != std::nearbyint(value)) {
            value += static_cast<double>(next_uniform()) - static_cast<double>(next_uniform());
        }
        const double rounded = std::isnan(value) ? 0.0 : std::nearbyint(value);
        if (rounded > 32767.0 || rounded < -32768.0) {
            ++clipped_;
            out[i] = rounded > 0 ? std::int16_t{32767} : std::int16_t{-32768};
        } else {
            out[i] = static_cast<std::int16_t>(rounded);
        }
    }
}

} // namespace pev::wav
