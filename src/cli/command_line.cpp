#include "cli/command_line.hpp"

namespace pev::cli {

namespace {
bool is_separator(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

std::vector<std::string> split_command_line(std::string_view line) {
    // Every special character is ASCII, and no byte of a multi-byte UTF-8
    // sequence is, so working byte by byte never splits a character.
    std::vector<std::string> arguments;
    std::string current;
    bool in_argument = false; // a quote alone starts an (empty) argument
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            current += '"';
            in_argument = true;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            in_argument = true;
        } else if (is_separator(c) && !quoted) {
            if (in_argument) {
                arguments.push_back(std::move(current));
                current.clear();
                in_argument = false;
            }
        } else {
            current += c;
            in_argument = true;
        }
    }
    if (in_argument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

} // namespace pev::cli
