#include "cli/pev/mistyped_command.hpp"

#include "cli/pev/named_archive.hpp"
#include "platform/utf8_path.hpp"

#include <algorithm>
#include <filesystem>
#include <numeric>

namespace pev::cli::tool {
namespace {

bool names_something(const std::string& name) {
    std::error_code ignored;
    return std::filesystem::exists(path_from_utf8(name), ignored) ||
           std::filesystem::exists(path_from_utf8(resolve_archive_path(name)), ignored);
}

// Edits (insertions, deletions, changes, swaps of neighbours) from `a` to `b`:
// "lsit" is one swap from "list".
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    std::iota(d[0].begin(), d[0].end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::optional<std::string> mistyped_command(const std::vector<std::string>& bare_arguments,
                                            const std::vector<std::string>& commands) {
    if (bare_arguments.size() < 2) {
        return std::nullopt; // one name alone is an archive, found or not
    }
    const std::string& word = bare_arguments.front();
    if (word.empty() || word == kStandardInput || word.find_first_of("/\\.") != std::string::npos ||
        names_something(word)) {
        return std::nullopt;
    }
    // Words too far from every command get no guess.
    std::string nearest;
    std::size_t best = 3;
    for (const std::string& command : commands) {
        if (const std::size_t distance = edit_distance(word, command); distance < best) {
            best = distance;
            nearest = command;
        }
    }
    const std::string hint = nearest.empty() ? "see pev --help" : "did you mean " + nearest + "?";
    return "'" + word + "' is not a command (" + hint + ")";
}

} // namespace pev::cli::tool
