#include "loudness/loudness_meter.hpp"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <new>

namespace pev::loudness {
namespace {

// libebur128 accepts rates from 16 Hz up to this (64 times 44.1 kHz).
constexpr std::uint32_t kHighestRate = 2822400;

} // namespace

struct LoudnessMeter::State {
    explicit State(std::uint32_t rate) : meter(ebur128_init(1, rate, EBUR128_MODE_I)) {
        if (meter == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~State() { ebur128_destroy(&meter); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    ebur128_state* meter;
};

LoudnessMeter::LoudnessMeter(std::uint32_t rate) : speech_(rate) {
    if (rate < 16 || rate > kHighestRate) {
        return;
    }
    state_ = std::make_unique<State>(rate);
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(std::span<const std::int16_t> samples) {
    speech_.add(samples);
    if (state_ != nullptr && !samples.empty() &&
        ebur128_add_frames_short(state_->meter, samples.data(), samples.size()) !=
            EBUR128_SUCCESS) {
        throw std::bad_alloc(); // its only failure with valid arguments
    }
}

ClipLoudness LoudnessMeter::result() const {
    ClipLoudness loudness;
    speech_.finish(loudness);
    double integrated = 0.0;
    if (state_ != nullptr &&
        ebur128_loudness_global(state_->meter, &integrated) == EBUR128_SUCCESS &&
        std::isfinite(integrated)) {
        loudness.integrated = integrated;
    }
    return loudness;
}

ClipLoudness measure(std::span<const std::int16_t> samples, std::uint32_t rate) {
    LoudnessMeter meter(rate);
    meter.add(samples);
    return meter.result();
}

} // namespace pev::loudness
