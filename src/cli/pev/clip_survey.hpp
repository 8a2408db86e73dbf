#pragma once
// What `pev list` and `pev test` learn about each clip: read, judged and,
// when sound, decoded, so the sample counts are exactly what extraction
// writes; with loudness, also measured. Nothing is written.

#include "archive/archive_reader.hpp"
#include "loudness/clip_loudness.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pev::cli::tool {

struct SurveyedClip {
    std::size_t index = 0;
    std::uint16_t id = 0;
    archive::ClipProblem problem = archive::ClipProblem::none;
    // The block counts and stored bytes are known unless the clip's
    // block-size table lies past the end of the file.
    bool table_read = false;
    std::uint32_t silent_blocks = 0;
    std::uint32_t raw_blocks = 0;
    std::uint32_t delta_blocks = 0;
    std::uint64_t stored_bytes = 0;
    std::uint64_t samples = 0; // 0 for a refused clip
    // When asked for and the clip is sound (and pev has libebur128).
    std::optional<loudness::ClipLoudness> loudness;

    bool ok() const { return problem == archive::ClipProblem::none; }
};

// Surveys the clips at `indices` (0-based, ascending) in table order,
// handing each to `each` as it is done. With `measure`, each sound clip's
// loudness is measured too, while the next is decoded on the thread that
// extraction decodes ahead on.
void survey_clips(const archive::ArchiveReader& reader, const std::vector<std::size_t>& indices,
                  const std::function<void(const SurveyedClip&)>& each, bool measure = false);

} // namespace pev::cli::tool
