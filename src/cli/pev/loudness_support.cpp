#include "cli/pev/loudness_support.hpp"

#if PEV_HAS_LOUDNESS
#include "loudness/loudness_meter.hpp"
#endif

#include <cmath>
#include <cstdio>

namespace pev::cli::tool {

bool has_loudness() {
    return PEV_HAS_LOUDNESS != 0;
}

std::string lacking_loudness(const std::string& option) {
    return has_loudness() ? ""
                          : option + " needs libebur128, which this build of pev lacks; it "
                                     "measures no loudness";
}

std::optional<loudness::ClipLoudness>
measure_loudness([[maybe_unused]] std::span<const std::int16_t> samples,
                 [[maybe_unused]] std::uint32_t rate) {
#if PEV_HAS_LOUDNESS
    return loudness::measure(samples, rate);
#else
    return std::nullopt;
#endif
}

std::string level_text(const std::optional<double>& level) {
    if (!level) {
        return "-";
    }
    char text[32];
    // Rounded as printed, so that -0.04 shows as 0.0 and not -0.0.
    const double tenths = std::round(*level * 10.0) / 10.0;
    std::snprintf(text, sizeof text, "%.1f", tenths == 0.0 ? 0.0 : tenths);
    return text;
}

std::string gain_text(double db) {
    char text[32];
    const double tenths = std::round(db * 10.0) / 10.0;
    std::snprintf(text, sizeof text, "%+.1f dB", tenths == 0.0 ? 0.0 : tenths);
    return text;
}

} // namespace pev::cli::tool
