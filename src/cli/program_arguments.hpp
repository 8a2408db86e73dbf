#pragma once
// The program's arguments, the same on every host.

#include <string>
#include <vector>

namespace pev::cli {

// The program name and its arguments as UTF-8 strings. Where the host keeps
// the command line unsplit (Windows) it is split by split_command_line, so
// quotes, backslashes and wildcards mean the same on every host; elsewhere
// argv is taken as the shell split it.
std::vector<std::string> program_arguments(int argc, char** argv);

} // namespace pev::cli
