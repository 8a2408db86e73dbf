#include "sound/resampler.hpp"

#include <algorithm>
#include <new>
#include <soxr.h>

namespace pev::sound {
namespace {

constexpr std::size_t kOutRun = 16384;

} // namespace

Resampler::Resampler(double input_rate, double output_rate) : out_(kOutRun) {
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(input_rate, output_rate, 1, &error, nullptr, &quality, &runtime);
    if (soxr_ == nullptr || error != nullptr) {
        soxr_delete(soxr_);
        throw std::bad_alloc();
    }
}

Resampler::~Resampler() {
    soxr_delete(soxr_);
}

void Resampler::push(std::span<const float> samples, const Emit& emit) {
    while (!samples.empty()) {
        std::size_t taken = 0;
        std::size_t made = 0;
        soxr_process(soxr_, samples.data(), samples.size(), &taken, out_.data(), out_.size(),
                     &made);
        if (made > 0) {
            emit(std::span<const float>(out_.data(), made));
        }
        if (taken == 0 && made == 0) {
            return; // never with valid input; no endless loop if it were
        }
        samples = samples.subspan(taken);
    }
}

void Resampler::flush(const Emit& emit) {
    for (;;) {
        std::size_t made = 0;
        soxr_process(soxr_, nullptr, 0, nullptr, out_.data(), out_.size(), &made);
        if (made == 0) {
            return;
        }
        emit(std::span<const float>(out_.data(), made));
    }
}

std::vector<float> resample_clip(std::span<const std::int16_t> samples, std::uint32_t input_rate,
                                 std::uint32_t output_rate) {
    std::vector<float> out;
    out.reserve(
        static_cast<std::size_t>(static_cast<double>(samples.size()) * output_rate / input_rate) +
        1);
    Resampler resampler(input_rate, output_rate);
    const Resampler::Emit keep = [&out](std::span<const float> made) {
        out.insert(out.end(), made.begin(), made.end());
    };
    std::vector<float> run(kOutRun);
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), run.size());
        std::transform(samples.begin(), samples.begin() + count, run.begin(),
                       [](std::int16_t sample) { return static_cast<float>(sample) / 32768.0f; });
        resampler.push(std::span<const float>(run.data(), count), keep);
        samples = samples.subspan(count);
    }
    resampler.flush(keep);
    return out;
}

} // namespace pev::sound
