#pragma once
// Splitting a raw command line into arguments, for hosts that hand the
// program one unsplit line (Windows) instead of an argument vector.

#include <string>
#include <string_view>
#include <vector>

namespace pev::cli {

// Splits `line` (UTF-8) into its arguments, the program name first:
// - runs of blanks and tabs separate arguments;
// - a double quote starts or ends a quoted run, in which blanks and tabs are
//   ordinary; the quote itself is dropped, and an unclosed run ends with the
//   line;
// - a backslash directly before a double quote yields a literal double quote;
//   every other backslash is an ordinary character;
// - nothing else is special: * and ? are kept as typed.
// A pair of quotes with nothing between them is an empty argument.
std::vector<std::string> split_command_line(std::string_view line);

} // namespace pev::cli
