#include "loudness/speech_level.hpp"

#include <algorithm>
#include <cmath>

namespace pev::loudness {
namespace {

constexpr double kBelowLoudestDb = 40.0;
constexpr double kFloorDbfs = -85.0;

double power_of(double db) {
    return std::pow(10.0, db / 10.0);
}

} // namespace

SpeechLevel::SpeechLevel(std::uint32_t rate)
    : frame_length_(std::max<std::uint32_t>(1, rate / 100)) {}

void SpeechLevel::add(std::span<const std::int16_t> samples) {
    samples_ += samples.size();
    while (!samples.empty()) {
        if (frames_.empty() || frames_.back().count == frame_length_) {
            frames_.emplace_back();
        }
        Frame& frame = frames_.back();
        const std::size_t take = std::min<std::size_t>(samples.size(), frame_length_ - frame.count);
        std::int64_t squares = 0; // exact: under 2^26 squares of at most 2^30
        int peak = 0;
        for (const std::int16_t sample : samples.first(take)) {
            const int value = sample;
            squares += value * value;
            peak = std::max(peak, value < 0 ? -value : value);
        }
        frame.squares += static_cast<double>(squares) / (32768.0 * 32768.0);
        frame.count += static_cast<std::uint32_t>(take);
        peak_ = std::max(peak_, static_cast<std::uint32_t>(peak));
        samples = samples.subspan(take);
    }
}

void SpeechLevel::finish(ClipLoudness& loudness) const {
    loudness.peak = peak_;
    loudness.samples = samples_;
    loudness.speech_rms.reset();
    double loudest = 0.0;
    for (const Frame& frame : frames_) {
        loudest = std::max(loudest, frame.squares / frame.count);
    }
    const double threshold = std::max(loudest / power_of(kBelowLoudestDb), power_of(kFloorDbfs));
    double squares = 0.0;
    std::uint64_t count = 0;
    for (const Frame& frame : frames_) {
        if (frame.squares / frame.count >= threshold) {
            squares += frame.squares;
            count += frame.count;
        }
    }
    if (count > 0) {
        loudness.speech_rms = 10.0 * std::log10(squares / static_cast<double>(count));
    }
}

} // namespace pev::loudness
