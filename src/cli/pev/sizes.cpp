#include "cli/pev/sizes.hpp"

#include <cstdio>

namespace pev::cli::tool {

std::string human_size(std::uint64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    const char* const units[] = {"kB", "MB", "GB", "TB"};
    double value = double(bytes) / 1000;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

double seconds_of(std::uint64_t samples, std::uint32_t rate) {
    return rate == 0 ? 0.0 : double(samples) / double(rate);
}

std::string human_duration(double seconds) {
    char text[80];
    char counted[32];
    // Always in seconds, as the rows are; past a minute also as a clock.
    std::snprintf(counted, sizeof counted, "%.3f s", seconds);
    if (seconds < 60) {
        return counted;
    }
    // Rounded to tenths first, so 59.96 s reads 1:00.0 and not 0:60.0.
    const auto tenths = static_cast<std::uint64_t>(seconds * 10 + 0.5);
    const std::uint64_t minutes = tenths / 600;
    const double rest = double(tenths % 600) / 10;
    if (minutes < 60) {
        std::snprintf(text, sizeof text, "%s (%llu:%04.1f)", counted,
                      static_cast<unsigned long long>(minutes), rest);
    } else {
        std::snprintf(text, sizeof text, "%s (%llu:%02llu:%04.1f)", counted,
                      static_cast<unsigned long long>(minutes / 60),
                      static_cast<unsigned long long>(minutes % 60), rest);
    }
    return text;
}

} // namespace pev::cli::tool
