#include "platform/wildcards.hpp"

#include "common/name_order.hpp"
#include "platform/utf8_path.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace pev {
namespace {

namespace fs = std::filesystem;

} // namespace

bool fits_wildcard(std::string_view pattern, std::string_view name) {
    // Greedy matching with one step back to the last `*`: linear in
    // practice, and never worse than quadratic.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t star_name = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            star_name = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || ascii_folded(pattern[p]) == ascii_folded(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++star_name;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> expand_wildcards(const std::vector<std::string>& names) {
    std::vector<std::string> expanded;
    for (const std::string& name : names) {
        const std::size_t separator = name.find_last_of("/\\");
        const std::size_t leaf_start = separator == std::string::npos ? 0 : separator + 1;
        const std::string_view leaf = std::string_view(name).substr(leaf_start);
        std::error_code ignored;
        if (leaf.find_first_of("*?") == std::string_view::npos ||
            fs::exists(path_from_utf8(name), ignored)) {
            expanded.push_back(name);
            continue;
        }
        const std::string folder = name.substr(0, leaf_start);
        std::vector<std::string> fits;
        std::error_code error;
        for (fs::directory_iterator item(path_from_utf8(folder.empty() ? "." : folder), error), end;
             !error && item != end; item.increment(error)) {
            const std::string entry = utf8_from_path(item->path().filename());
            if ((!entry.starts_with('.') || leaf.starts_with('.')) && fits_wildcard(leaf, entry)) {
                fits.push_back(entry);
            }
        }
        if (fits.empty()) {
            expanded.push_back(name);
            continue;
        }
        std::sort(fits.begin(), fits.end(), before_as_people_sort);
        for (const std::string& entry : fits) {
            expanded.push_back(folder + entry);
        }
    }
    return expanded;
}

std::vector<std::string> with_wildcards_expanded(const std::vector<std::string>& names) {
    return kShellExpandsWildcards ? names : expand_wildcards(names);
}

} // namespace pev
