#pragma once
// Which file replaces which clip in `pev replace`: "N=FILE" arguments, and
// the sound files of a folder (--from DIR) named as `pev extract` names the
// clips they replace, by the default names or a --name template, whatever
// their extension says of their format.

#include "archive/archive_reader.hpp"
#include "cli/pev/name_template.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace pev::cli::tool {

struct ReplacementSource {
    std::size_t index = 0; // the clip's 0-based position
    std::string file;
};

// The clip each file of a folder names.
struct FolderMatch {
    std::vector<ReplacementSource> matched; // in the folder's name order
    std::vector<std::string> unmatched;     // sound files named after no clip
    std::string error;                      // "" when the folder could be read
};

// The sound files of `folder` (of the extensions `pev pack` takes from a
// folder) matched with the clips of `reader`, an archive of base name
// `base`, by the names `names` gives them without their extensions. A file
// whose name two clips share (a template of {id} alone, with an id that
// repeats) is an error, as is a folder without sound files.
FolderMatch match_folder(const std::string& folder, const archive::ArchiveReader& reader,
                         const std::string& base, const NameTemplate& names);

// `name` without its extension, where that is one of a sound format's.
std::string without_sound_extension(const std::string& name);

} // namespace pev::cli::tool
