#pragma once
// What players call a clip: the name `pev extract` gives its file,
// "BASE_NNNN.wav", where BASE is the archive's file name without ".pev".
// Players know the archive by a URI; file names on Linux need not be UTF-8,
// and titles must be, so this is the one place a name becomes a title.

#include <cstddef>
#include <string>
#include <string_view>

namespace pev::player {

// The archive's base name from its URI ("file:///music/V%C3%B6ice.PEV" gives
// "Vöice"): the last segment of the URI's path, its %XX escapes decoded, a
// final ".pev" in any case taken off, and every byte that is not part of
// valid UTF-8 shown as U+FFFD. "stdin" when the URI has no path segment (an
// archive read from a pipe, as `pev extract -` names it).
std::string archive_base_name(std::string_view uri);

// "BASE_NNNN.wav" for the clip at 1-based `position`.
std::string clip_title(std::string_view base_name, std::size_t position);

} // namespace pev::player
