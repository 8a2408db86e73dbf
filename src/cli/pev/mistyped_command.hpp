#pragma once
// `pev lsit voices.pev` must not extract voices.pev: a first word that names
// no file and looks like a command is a mistyped command, not an archive.

#include <optional>
#include <string>
#include <vector>

namespace pev::cli::tool {

// The message for `pev WORD ARCHIVE...` when WORD, the first of several bare
// arguments, is no file (nor WORD.pev) and has neither a folder nor an
// extension, so it can only have been meant as a command: "'WORD' is not a
// command (did you mean list?)". Nothing for every other command line, which
// extracts the archives named.
std::optional<std::string> mistyped_command(const std::vector<std::string>& bare_arguments,
                                            const std::vector<std::string>& commands);

} // namespace pev::cli::tool
