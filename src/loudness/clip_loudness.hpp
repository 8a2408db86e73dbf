#pragma once
// What is known of a clip's level: its integrated loudness (ITU-R BS.1770,
// EBU R128), measured where pev has libebur128 (see loudness_meter.hpp), the
// RMS level of its speech, and its sample peak. A clip too short for one
// 400 ms gating block, or too quiet for any block to pass the gate, has no
// integrated loudness; digital silence has no speech level either.

#include <cmath>
#include <cstdint>
#include <optional>

namespace pev::loudness {

struct ClipLoudness {
    std::optional<double> integrated; // LUFS
    std::optional<double> speech_rms; // dBFS, over the frames that hold speech
    std::uint32_t peak = 0;           // the largest |sample|: 0 to 32768
    std::uint64_t samples = 0;

    // The sample peak in dBFS (full scale 32768); none for silence.
    std::optional<double> peak_dbfs() const {
        if (peak == 0) {
            return std::nullopt;
        }
        return 20.0 * std::log10(static_cast<double>(peak) / 32768.0);
    }
};

} // namespace pev::loudness
