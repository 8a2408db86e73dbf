#include "cli/pev/clip_selection.hpp"

#include <algorithm>
#include <numeric>
#include <optional>

namespace pev::cli::tool {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A position of digits only; nullopt for anything else. Numbers too large
// for any archive are clamped rather than overflowing: they are out of range
// all the same.
std::optional<std::size_t> parse_position(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr std::size_t kClamp = 1'000'000'000;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = std::min(kClamp, value * 10 + static_cast<std::size_t>(c - '0'));
    }
    return value;
}

std::string not_an_item(std::string_view item) {
    // Appended rather than "literal" + std::string: g++ 12 warns falsely
    // (-Wrestrict) about the insertion that form makes.
    std::string text = "\"";
    text.append(item);
    return text.append("\" is not a clip number or range (write them as in 1,5-9,12,20-)");
}

} // namespace

ClipSelection select_ids(std::string_view list, std::span<const std::uint16_t> ids) {
    ClipSelection selection;
    std::vector<bool> chosen(ids.size(), false);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view item = trimmed(list.substr(start, comma - start));
        start = comma + 1;
        const std::size_t dash = item.find('-');
        const std::string_view first_text = trimmed(item.substr(0, dash));
        const std::string_view last_text =
            dash == std::string_view::npos ? first_text : trimmed(item.substr(dash + 1));
        // Ids run from 0 to 65535; "-9" and "5-" are open at one end.
        const auto first = dash != std::string_view::npos && first_text.empty()
                               ? std::optional<std::size_t>(0)
                               : parse_position(first_text);
        const auto last = dash != std::string_view::npos && last_text.empty()
                              ? std::optional<std::size_t>(65535)
                              : parse_position(last_text);
        if (item.empty() || item == "-" || !first || !last) {
            selection.error = std::string("\"").append(item).append(
                "\" is not an entry id or range (write them as in 3,7-9)");
            return selection;
        }
        if (*last < *first) {
            selection.error = std::string("the range ").append(item).append(" runs backwards");
            return selection;
        }
        bool found = false;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (ids[i] >= *first && ids[i] <= *last) {
                chosen[i] = true;
                found = true;
            }
        }
        if (!found) {
            selection.error =
                std::string(dash == std::string_view::npos ? "no clip has the entry id "
                                                           : "no clip has an entry id in ")
                    .append(item);
            return selection;
        }
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (chosen[i]) {
            selection.indices.push_back(i);
        }
    }
    return selection;
}

std::optional<std::vector<std::size_t>> chosen_clips(const std::optional<std::string>& list,
                                                     const std::optional<std::string>& id_list,
                                                     const archive::ArchiveReader& reader,
                                                     std::FILE* err) {
    const std::size_t clip_count = reader.clip_count();
    if (list && id_list) {
        std::fputs("pev: -c and --id exclude each other\n", err);
        return std::nullopt;
    }
    if (!list && !id_list) {
        return all_clips(clip_count);
    }
    std::vector<std::uint16_t> ids;
    for (std::size_t i = 0; id_list && i < clip_count; ++i) {
        ids.push_back(reader.row(i).id);
    }
    ClipSelection selection = list ? select_clips(*list, clip_count) : select_ids(*id_list, ids);
    if (!selection.ok()) {
        std::fprintf(err, "pev: %s\n", selection.error.c_str());
        return std::nullopt;
    }
    return std::move(selection.indices);
}

std::vector<std::size_t> all_clips(std::size_t clip_count) {
    std::vector<std::size_t> indices(clip_count);
    std::iota(indices.begin(), indices.end(), std::size_t{0});
    return indices;
}

ClipSelection select_clips(std::string_view list, std::size_t clip_count) {
    ClipSelection selection;
    if (trimmed(list).empty()) {
        selection.error = "the clip list is empty";
        return selection;
    }
    std::vector<bool> chosen(clip_count, false);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view item = trimmed(list.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) {
            selection.error =
                std::string("an empty item in the clip list \"").append(list).append("\"");
            return selection;
        }
        const std::size_t dash = item.find('-');
        const std::string_view first_text = trimmed(item.substr(0, dash));
        const std::string_view last_text =
            dash == std::string_view::npos ? first_text : trimmed(item.substr(dash + 1));
        // Open ranges: "-10" starts at the first clip, "5-" runs to the last.
        const bool open_start = dash != std::string_view::npos && first_text.empty();
        const bool open_end = dash != std::string_view::npos && last_text.empty();
        const auto first = open_start ? std::optional<std::size_t>(1) : parse_position(first_text);
        const auto last = open_end && first
                              ? std::optional<std::size_t>(std::max(*first, clip_count))
                              : parse_position(last_text);
        if (open_start && open_end) {
            selection.error = not_an_item(item);
            return selection;
        }
        if (!first || !last) {
            selection.error = not_an_item(item);
            return selection;
        }
        if (*first == 0 || *last == 0) {
            selection.error =
                std::string("clips are numbered from 1 (\"").append(item).append("\")");
            return selection;
        }
        if (*last < *first) {
            selection.error = std::string("the range ").append(item).append(" runs backwards");
            return selection;
        }
        if (*last > clip_count) {
            // Named as written: a number too large for any archive was
            // clamped, and the clamped value is not what the user wrote.
            const std::string missing =
                *first > clip_count
                    ? std::string(first_text.substr(first_text.find_first_not_of('0')))
                    : std::to_string(clip_count + 1);
            selection.error = "there is no clip " + missing + ": the archive holds " +
                              std::to_string(clip_count) + " clip" + (clip_count == 1 ? "" : "s");
            return selection;
        }
        std::fill(chosen.begin() + static_cast<std::ptrdiff_t>(*first - 1),
                  chosen.begin() + static_cast<std::ptrdiff_t>(*last), true);
    }
    for (std::size_t i = 0; i < clip_count; ++i) {
        if (chosen[i]) {
            selection.indices.push_back(i);
        }
    }
    return selection;
}

} // namespace pev::cli::tool
