#pragma once
// What pev does with loudness, in one place: builds with libebur128
// (PEV_HAS_LOUDNESS) measure it for list --loudness and replace
// --match-loudness; builds without it say which options need it.

#include "loudness/clip_loudness.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace pev::cli::tool {

// True when this build measures loudness.
bool has_loudness();

// "OPTION needs libebur128, which this build of pev lacks"; "" in builds
// that have it.
std::string lacking_loudness(const std::string& option);

// The loudness of a clip's samples at `rate`; none in builds without
// libebur128. Throws std::bad_alloc as LoudnessMeter does.
std::optional<loudness::ClipLoudness> measure_loudness(std::span<const std::int16_t> samples,
                                                       std::uint32_t rate);

// "-23.4" (a level in LUFS or dBFS, to a tenth); "-" for none.
std::string level_text(const std::optional<double>& level);

// "+4.2 dB".
std::string gain_text(double db);

} // namespace pev::cli::tool
