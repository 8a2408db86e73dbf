#include "cli/pev/name_template.hpp"

#include "archive/clip_file_name.hpp"
#include "common/name_order.hpp"

#include <algorithm>
#include <cstdio>

namespace pev::cli::tool {

namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with or
// without an extension ("nul.wav" is the null device too).
bool is_device_name(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    for (const char* device : {"con", "prn", "aux", "nul"}) {
        if (equal_ignoring_case(stem, device)) {
            return true;
        }
    }
    return stem.size() == 4 &&
           (equal_ignoring_case(stem.substr(0, 3), "com") ||
            equal_ignoring_case(stem.substr(0, 3), "lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::string control_character_problem(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char shown[8];
            std::snprintf(shown, sizeof shown, "0x%02X", byte);
            return std::string("it holds a control character (") + shown + ")";
        }
    }
    return "";
}

// Whether `name` from `at` on fits `pieces` from `piece` on; a number takes
// as many digits as it can have and still let the rest fit.
template <class Piece, class Field>
bool fits(std::string_view name, std::size_t at, const std::vector<Piece>& pieces,
          std::size_t piece, const std::string& base) {
    if (piece == pieces.size()) {
        return at == name.size();
    }
    const Piece& next = pieces[piece];
    if (next.field == Field::text || next.field == Field::base) {
        const std::string& text = next.field == Field::text ? next.text : base;
        return name.substr(at, text.size()) == text &&
               fits<Piece, Field>(name, at + text.size(), pieces, piece + 1, base);
    }
    const std::size_t fewest = next.field == Field::position ? 4 : 1;
    std::size_t end = at;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9') {
        ++end;
    }
    for (std::size_t last = end; last >= at + fewest && last > at; --last) {
        if (fits<Piece, Field>(name, last, pieces, piece + 1, base)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string windows_name_problem(std::string_view name) {
    if (const std::size_t bad = name.find_first_of("<>:\"|?*"); bad != std::string_view::npos) {
        return std::string("Windows does not allow ") + name[bad] + " in file names";
    }
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        return "Windows drops a dot or blank at the end of a file name";
    }
    if (is_device_name(name)) {
        return "Windows keeps the name " + std::string(name.substr(0, name.find('.'))) +
               " for a device";
    }
    return "";
}

std::string host_name_problem([[maybe_unused]] std::string_view name) {
#ifdef _WIN32
    return windows_name_problem(name);
#else
    return "";
#endif
}

NameTemplate::NameTemplate() = default;

std::string NameTemplate::parse(std::string_view text) {
    if (text.empty()) {
        return "the name template is empty";
    }
    if (text.find_first_of("/\\") != std::string_view::npos) {
        return "the name template \"" + std::string(text) +
               "\" holds a folder; choose the folder with -o";
    }
    if (const std::string problem = control_character_problem(text); !problem.empty()) {
        return "the name template cannot be a file name: " + problem;
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

namespace pev::cli::tool {

bool NameTemplate::could_name(std::string_view name, const std::string& base) const {
    // The names Pev2wav gives, as pieces.
    static const std::vector<Piece> kDefault = {
        {Field::base, {}}, {Field::text, "_"}, {Field::position, {}}, {Field::text, ".wav"}};
    return fits<Piece, Field>(name, 0, is_default_ ? kDefault : pieces_, 0, base);
}

} // namespace pev::cli::tool
