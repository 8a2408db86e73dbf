#include "cli/pev/name_template.hpp"

#include "archive/clip_file_name.hpp"

#include <algorithm>
#include <cstdio>

namespace pev::cli::tool {

NameTemplate::NameTemplate() = default;

std::string NameTemplate::parse(std::string_view text) {
    if (text.empty()) {
        return "the name template is empty";
    }
    if (text.find_first_of("/\\") != std::string_view::npos) {
        return "the name template \"" + std::string(text) +
               "\" holds a folder; choose the folder with -o";
    }
    std::vector<Piece> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t open = text.find_first_of("{}", start);
        if (open != start) {
            const std::size_t end = open == std::string_view::npos ? text.size() : open;
            pieces.push_back({Field::text, std::string(text.substr(start, end - start))});
            start = end;
            continue;
        }
        const std::size_t close = text.find('}', open);
        if (text[open] == '}' || close == std::string_view::npos) {
            return "the name template \"" + std::string(text) + "\" has an unmatched brace";
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (name == "base") {
            pieces.push_back({Field::base, {}});
        } else if (name == "n") {
            pieces.push_back({Field::position, {}});
        } else if (name == "id") {
            pieces.push_back({Field::id, {}});
        } else {
            return "the name template has an unknown placeholder {" + std::string(name) +
                   "}; use {base}, {n} and {id}";
        }
        start = close + 1;
    }
    if (text == "." || text == "..") {
        return "the name template \"" + std::string(text) + "\" names a folder";
    }
    pieces_ = std::move(pieces);
    is_default_ = false;
    return "";
}

std::string NameTemplate::expand(const std::string& base, std::size_t position,
                                 std::uint16_t id) const {
    if (is_default_) {
        return archive::clip_file_name(base, static_cast<int>(position));
    }
    std::string name;
    for (const Piece& piece : pieces_) {
        char number[24];
        switch (piece.field) {
        case Field::text:
            name += piece.text;
            break;
        case Field::base:
            name += base;
            break;
        case Field::position:
            std::snprintf(number, sizeof number, "%04zu", position);
            name += number;
            break;
        case Field::id:
            name += std::to_string(id);
            break;
        }
    }
    return name;
}

bool NameTemplate::numbers_clips() const {
    return is_default_ || std::any_of(pieces_.begin(), pieces_.end(), [](const Piece& piece) {
               return piece.field == Field::position;
           });
}

} // namespace pev::cli::tool
