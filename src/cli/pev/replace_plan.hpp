#pragma once
// What `pev replace` will do to each clip it replaces, worked out before
// anything is written: the clip's length and the new one's (each new
// recording read as it will be packed), whether it is longer or shorter
// than the limits allow, and, where loudness is asked for, both clips'
// loudness and the gain that matches them.

#include "archive/archive_reader.hpp"
#include "common/error.hpp"
#include "loudness/clip_loudness.hpp"
#include "loudness/level_match.hpp"
#include "pack/input_converter.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace pev::cli::tool {

// How much longer or shorter than its clip a recording may be, in percent
// of the clip's length; none: no limit.
struct LengthLimits {
    std::optional<double> longer = 10.0;
    std::optional<double> shorter;
};

enum class LengthVerdict { within, longer, shorter };

struct PlannedClip {
    std::size_t index = 0;
    std::uint16_t id = 0;
    std::string file;
    // False when the clip replaced cannot be decoded (a damaged one): its
    // length and loudness are unknown.
    bool clip_known = true;
    std::uint64_t old_samples = 0;
    std::uint64_t new_samples = 0;
    // The change of length in percent of the old; none for an empty or
    // unknown clip.
    std::optional<double> change_percent;
    LengthVerdict length = LengthVerdict::within;
    std::optional<loudness::ClipLoudness> old_loudness; // where measured
    std::optional<loudness::ClipLoudness> new_loudness; // as the file is, before any gain
    // With --match-loudness: the gain, and the level the recording reaches
    // once stored.
    std::optional<loudness::LevelMatch> match;
    std::string conversion; // "48000 Hz stereo FLAC -> 22050 Hz mono", or ""

    // The gain to apply to the recording: 1 unless matched.
    double gain() const { return match ? match->factor() : 1.0; }
};

struct PlanOptions {
    LengthLimits limits;
    bool measure = false; // measure both clips' loudness
    bool match = false;   // and match them (implies measure)
    bool dither = true;   // as the gain will be applied
    const pack::InputConverter* converter = nullptr;
};

// Plans clip `index` of `reader` replaced by `file`: reads the file as
// replace_clips will (its refusal is the error) and, when asked, decodes
// and measures the clip. Throws std::bad_alloc as the meter does.
Error plan_clip(const archive::ArchiveReader& reader, std::size_t index, const std::string& file,
                const PlanOptions& options, PlannedClip& planned);

} // namespace pev::cli::tool
