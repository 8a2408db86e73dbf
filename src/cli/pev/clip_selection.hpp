#pragma once
// The clips a command is to work on, picked by position as the user writes
// them: "1,5-9,12".

#include "archive/archive_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
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

// Reads a comma-separated list of entry ids and ranges of them ("3,7-9",
// "40-", "-9") and picks the clips whose ids it holds; each item must match
// at least one clip. `ids` holds each clip's id in table order.
ClipSelection select_ids(std::string_view list, std::span<const std::uint16_t> ids);

// The clips -c LIST or --id LIST picks from the archive `reader` reads, or
// every clip when there is neither; on a wrong list (or both), says why on
// `err` ("pev: ...") and returns nullopt.
std::optional<std::vector<std::size_t>> chosen_clips(const std::optional<std::string>& list,
                                                     const std::optional<std::string>& id_list,
                                                     const archive::ArchiveReader& reader,
                                                     std::FILE* err);

// Every clip of an archive of `clip_count` clips.
std::vector<std::size_t> all_clips(std::size_t clip_count);

} // namespace pev::cli::tool
