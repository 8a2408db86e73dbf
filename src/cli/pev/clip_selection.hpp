#pragma once
// The clips a command is to work on, picked by position as the user writes
// them: "1,5-9,12".

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pev::cli::tool {

struct ClipSelection {
    std::vector<std::size_t> indices; // 0-based, ascending, each once
    std::string error;                // for people; empty when the list is good

    bool ok() const { return error.empty(); }
};

// Reads a comma-separated list of positions (counted from 1, as the file
// names number them) and ranges "A-B", "A-" (to the last) and "-B" (from the
// first) of an archive of `clip_count` clips.
// Blanks around items are allowed; overlaps are taken once.
ClipSelection select_clips(std::string_view list, std::size_t clip_count);

// The clips -c LIST picks from an archive of `clip_count` clips, or every
// clip when there is no list; on a wrong list, says why on `err` ("pev:
// ...") and returns nullopt.
std::optional<std::vector<std::size_t>> chosen_clips(const std::optional<std::string>& list,
                                                     std::size_t clip_count, std::FILE* err);

// Every clip of an archive of `clip_count` clips.
std::vector<std::size_t> all_clips(std::size_t clip_count);

} // namespace pev::cli::tool
