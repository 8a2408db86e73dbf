#pragma once
// Wildcards in file names. A POSIX shell expands `*.pev` before the program
// runs; cmd.exe and PowerShell hand it over as written, and Windows programs
// are expected to expand it themselves.

#include <string>
#include <string_view>
#include <vector>

namespace pev {

#ifdef _WIN32
inline constexpr bool kShellExpandsWildcards = false;
#else
inline constexpr bool kShellExpandsWildcards = true;
#endif

// True when `name` fits `pattern`: `*` stands for any run of characters,
// `?` for one, and letters match in either case, as Windows names do.
bool fits_wildcard(std::string_view pattern, std::string_view name);

// Each of `names` whose last part holds `*` or `?` and that names no
// existing file is replaced by the entries of its folder that fit it, in the
// order people sort names, hidden ones (beginning with a dot) left out
// unless the pattern begins with one. A pattern nothing fits is kept as it
// is, for the caller to report as missing. Names are UTF-8.
std::vector<std::string> expand_wildcards(const std::vector<std::string>& names);

// expand_wildcards where the shell leaves that to the program, else `names`.
std::vector<std::string> with_wildcards_expanded(const std::vector<std::string>& names);

} // namespace pev
