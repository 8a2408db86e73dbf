#include "cli/program_arguments.hpp"

#include "cli/command_line.hpp"
#include "platform/process.hpp"

#include <optional>

namespace pev::cli {

std::vector<std::string> program_arguments(int argc, char** argv) {
    if (const std::optional<std::string> line = raw_command_line()) {
        return split_command_line(*line);
    }
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace pev::cli
