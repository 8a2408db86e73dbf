#pragma once
// Names are UTF-8 inside the program. std::filesystem takes a narrow string
// in the host's own code page (not UTF-8 on Windows), so names reach it
// through char8_t, which it always reads as UTF-8.

#include <filesystem>
#include <string>

namespace pev {

inline std::filesystem::path path_from_utf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string utf8_from_path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace pev
