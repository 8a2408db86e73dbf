#pragma once
// Test signals with the shape of speech, the same on every host: syllables
// of a few harmonics (a voice's pitch and formants) under a smooth envelope,
// with pauses of digital silence between words, at a chosen level. Made
// from integer arithmetic and the standard library's sine only.

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace pev::test {

struct SpeechShape {
    std::uint32_t rate = 22050;
    double seconds = 3.0;
    double peak = 0.3; // of full scale, roughly the loudest syllable's
    unsigned seed = 1;
    double pitch = 140.0; // Hz
};

inline std::vector<std::int16_t> speech_like(const SpeechShape& shape) {
    std::mt19937 random(shape.seed);
    const auto uniform = [&](double low, double high) {
        return low + (high - low) * static_cast<double>(random() >> 8) / 16777216.0;
    };
    const auto total = static_cast<std::size_t>(shape.seconds * shape.rate);
    std::vector<std::int16_t> samples(total, 0);
    constexpr double kPi = 3.14159265358979323846;
    std::size_t at = static_cast<std::size_t>(uniform(0.05, 0.2) * shape.rate);
    while (at < total) {
        // A word: two to four syllables, then a pause.
        const int syllables = 2 + static_cast<int>(uniform(0.0, 3.0));
        for (int s = 0; s < syllables && at < total; ++s) {
            const auto length = static_cast<std::size_t>(uniform(0.08, 0.25) * shape.rate);
            const double pitch = shape.pitch * uniform(0.85, 1.2);
            const double loudness = shape.peak * uniform(0.5, 1.0);
            double phase[6] = {};
            for (double& p : phase) {
                p = uniform(0.0, 2 * kPi);
            }
            for (std::size_t i = 0; i < length && at + i < total; ++i) {
                const double t = static_cast<double>(i) / shape.rate;
                const double envelope = std::sin(kPi * static_cast<double>(i) / length);
                double value = 0.0;
                for (int h = 1; h <= 6; ++h) {
                    // Harmonics falling off, one formant lifted.
                    const double weight = (h == 3 || h == 4 ? 0.9 : 0.5) / h;
                    value += weight * std::sin(2 * kPi * pitch * h * t + phase[h - 1]);
                }
                samples[at + i] = static_cast<std::int16_t>(
                    std::lround(32767.0 * loudness * envelope * value / 1.2));
            }
            at += length;
        }
        at += static_cast<std::size_t>(uniform(0.1, 0.5) * shape.rate);
    }
    return samples;
}

} // namespace pev::test
