#pragma once
// Sizes and durations as the `pev` tool prints them for people.

#include <cstdint>
#include <string>

namespace pev::cli::tool {

// "512 bytes", "14.2 kB", "407.1 MB", "2.1 GB" (powers of 1000, as disks count).
std::string human_size(std::uint64_t bytes);

// The duration of `samples` at `rate` samples per second.
double seconds_of(std::uint64_t samples, std::uint32_t rate);

// "4.702 s"; from a minute on also as a clock: "125.300 s (2:05.3)",
// "3725.300 s (1:02:05.3)".
std::string human_duration(double seconds);

} // namespace pev::cli::tool
