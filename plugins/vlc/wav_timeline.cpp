#include "wav_timeline.hpp"

#include <limits>

namespace pev::vlc {

namespace {

constexpr std::uint64_t kMicroseconds = 1'000'000;
constexpr std::uint64_t kBytesPerSample = 2;

// floor(value * numerator / denominator) without forming the product, for
// a numerator of at most 2^32: exact as long as the result fits.
std::uint64_t scaled(std::uint64_t value, std::uint64_t numerator, std::uint64_t denominator) {
    return value / denominator * numerator + value % denominator * numerator / denominator;
}

std::int64_t clamped(std::uint64_t value) {
    constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(value < most ? value : most);
}

} // namespace

// VLC: 8000000 * bytes / (bytes per second * 8), the same floor.
std::int64_t WavTimeline::time_of(std::uint64_t position) const {
    return clamped(scaled(position, kMicroseconds, rate_));
}

std::optional<std::int64_t> WavTimeline::length() const {
    if (samples_ == 0) {
        return std::nullopt;
    }
    return time_of(samples_);
}

// VLC: (double)(byte offset) / (double)(data bytes).
std::optional<double> WavTimeline::fraction_of(std::uint64_t position) const {
    if (samples_ == 0) {
        return std::nullopt;
    }
    return static_cast<double>(position * kBytesPerSample) /
           static_cast<double>(samples_ * kBytesPerSample);
}

// VLC: time * bits per second / 8000000 / block align, which is the floor
// of time * rate / 1000000.
std::optional<std::uint64_t> WavTimeline::sample_at_time(std::int64_t microseconds) const {
    if (microseconds < 0) {
        return std::nullopt;
    }
    return scaled(static_cast<std::uint64_t>(microseconds), rate_, kMicroseconds);
}

// VLC: (int64_t)(fraction * data bytes / block align), in doubles.
std::optional<std::uint64_t> WavTimeline::sample_at_fraction(double fraction) const {
    if (samples_ == 0 || !(fraction >= 0.0 && fraction <= 1.0)) {
        return std::nullopt;
    }
    const double block = fraction * static_cast<double>(samples_ * kBytesPerSample) /
                         static_cast<double>(kBytesPerSample);
    // Past 2^53 bytes a double rounds; the end is as far as a seek goes.
    const auto sample = static_cast<std::uint64_t>(block);
    return sample < samples_ ? sample : samples_;
}

} // namespace pev::vlc
