#include "cli/pev/json_path.hpp"

#include <cstdio>
#include <cstdlib>

namespace pev::cli::tool {

// The length of the valid UTF-8 sequence at the start of `text`, 0 when it
// does not start with one (a stray byte, an overlong form, a surrogate).
namespace {

std::size_t utf8_sequence_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const unsigned char second = byte(1);
    const bool bad = (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                     (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F);
    return bad ? 0 : length;
}

} // namespace

// `path` as a JSON string, byte for byte as the system gave it: valid UTF-8
// as it is, and each byte that is not part of it as the lone surrogate
// U+DC80-U+DCFF, as Python's "surrogateescape" does, so that
// os.fsencode(document["archive"]) gives the bytes back.
std::string json_path(std::string_view path) {
    std::string text = "\"";
    while (!path.empty()) {
        const std::size_t length = utf8_sequence_length(path);
        const auto byte = static_cast<unsigned char>(path.front());
        char escaped[8];
        if (length == 0 || byte < 0x20) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", length == 0 ? 0xDC00 + byte : byte);
            text += escaped;
        } else if (byte == '"' || byte == '\\') {
            text += '\\';
            text += static_cast<char>(byte);
        } else {
            text.append(path.substr(0, length));
        }
        path.remove_prefix(length == 0 ? 1 : length);
    }
    return text + "\"";
}

// A mark is a string of the control character 0x01 and the name's index:
// the library writes it as "\u0001" and the digits, and no other string of
// the documents holds a control character.
namespace {
constexpr std::string_view kMarkStart = "\"\\u0001";
}

JsonWithNames::Json JsonWithNames::name(std::string name) {
    names_.push_back(std::move(name));
    std::string mark(1, '\x01');
    mark += std::to_string(names_.size() - 1);
    return mark;
}

std::string JsonWithNames::dump(const Json& document, int indent) const {
    const std::string text = document.dump(indent);
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(kMarkStart); at != std::string::npos;
         at = text.find(kMarkStart, from)) {
        out.append(text, from, at - from);
        const std::size_t digits = at + kMarkStart.size();
        const std::size_t end = text.find('"', digits);
        const std::size_t index = std::strtoull(text.c_str() + digits, nullptr, 10);
        out += json_path(names_.at(index));
        from = end + 1;
    }
    out.append(text, from, std::string::npos);
    return out;
}

} // namespace pev::cli::tool
