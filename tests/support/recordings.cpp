#include "support/recordings.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <sndfile.h>

namespace pev::test {

Signal tone(std::uint32_t rate, int channels, double seconds, double hertz, double level) {
    Signal signal{rate, channels, {}};
    const auto frames = static_cast<std::size_t>(seconds * rate);
    for (std::size_t i = 0; i < frames; ++i) {
        const double value = level * std::sin(2 * std::numbers::pi * hertz * double(i) / rate);
        signal.samples.insert(signal.samples.end(), static_cast<std::size_t>(channels),
                              static_cast<float>(value));
    }
    return signal;
}

Signal sweep(std::uint32_t rate, int channels, double seconds, double top, double level) {
    Signal signal{rate, channels, {}};
    const auto frames = static_cast<std::size_t>(seconds * rate);
    double phase = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double hertz = 100 + (top - 100) * double(i) / double(frames);
        phase += 2 * std::numbers::pi * hertz / rate;
        for (int channel = 0; channel < channels; ++channel) {
            signal.samples.push_back(
                static_cast<float>(level * std::sin(phase) / (channel == 1 ? 2 : 1)));
        }
    }
    return signal;
}

Signal noise_signal(std::uint32_t rate, int channels, std::size_t frames, unsigned seed) {
    Signal signal{rate, channels, {}};
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < frames * static_cast<std::size_t>(channels); ++i) {
        signal.samples.push_back(static_cast<float>(static_cast<std::int16_t>(random() >> 16)) /
                                 32768.0f);
    }
    return signal;
}

void write_recording(const std::string& path, int format, const Signal& signal) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(signal.rate);
    info.channels = signal.channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    // Floats past full scale are kept in float files, clipped elsewhere.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(signal.frames());
    EXPECT_EQ(sf_writef_float(file, signal.samples.data(), frames), frames) << path;
    EXPECT_EQ(sf_close(file), 0) << path;
}

std::vector<float> read_recording_floats(const std::string& path, std::uint32_t& rate,
                                         int& channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    if (file == nullptr) {
        return {};
    }
    rate = static_cast<std::uint32_t>(info.samplerate);
    channels = info.channels;
    std::vector<float> samples;
    std::vector<float> run(4096 * static_cast<std::size_t>(info.channels));
    while (const sf_count_t got = sf_readf_float(file, run.data(), 4096)) {
        samples.insert(samples.end(), run.begin(),
                       run.begin() + got * static_cast<sf_count_t>(info.channels));
    }
    sf_close(file);
    return samples;
}

double snr_db(const std::vector<float>& reference, const std::vector<float>& measured,
              std::size_t skip) {
    const std::size_t length = std::min(reference.size(), measured.size());
    double signal = 0;
    double noise = 0;
    for (std::size_t i = skip; i + skip < length; ++i) {
        signal += double(reference[i]) * reference[i];
        noise += (double(measured[i]) - reference[i]) * (double(measured[i]) - reference[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-30));
}

} // namespace pev::test
