#pragma once
// Recordings in every format pev reads, made by the tests themselves with
// libsndfile (no sound files from elsewhere): tones, sweeps and noise.

#include <cstdint>
#include <string>
#include <vector>

namespace pev::test {

// A test signal, `channels` interleaved channels of `frames` frames at
// full scale +-1.0.
struct Signal {
    std::uint32_t rate = 0;
    int channels = 1;
    std::vector<float> samples;

    std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

// A sine of `hertz` at `level` (of full scale), the same in every channel.
Signal tone(std::uint32_t rate, int channels, double seconds, double hertz, double level = 0.5);
// A sine gliding from 100 Hz to `top` Hz; the right channel at half the
// level of the left.
Signal sweep(std::uint32_t rate, int channels, double seconds, double top, double level = 0.5);
// 16-bit steps of noise, the same on every host.
Signal noise_signal(std::uint32_t rate, int channels, std::size_t frames, unsigned seed);

// Writes `signal` to `path` in libsndfile's `format` (SF_FORMAT_* major |
// subtype); fails the test when libsndfile refuses.
void write_recording(const std::string& path, int format, const Signal& signal);

// The samples of a recording as libsndfile reads them, at full scale
// +-1.0, interleaved; `rate` and `channels` are set.
std::vector<float> read_recording_floats(const std::string& path, std::uint32_t& rate,
                                         int& channels);

// Signal-to-noise ratio of `measured` against `reference`, in dB, over
// their common length less `skip` samples at each end.
double snr_db(const std::vector<float>& reference, const std::vector<float>& measured,
              std::size_t skip);

} // namespace pev::test
