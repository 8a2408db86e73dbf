#pragma once
// The order people expect names in: letters without regard to case, and runs
// of digits by their value, so clip2 comes before clip10 and B.wav after
// a.wav. Names equal in that order fall back to their bytes, so the order is
// total and the same on every host.

#include <algorithm>
#include <string>
#include <string_view>

namespace pev {

// `c` in lower case when it is an ASCII capital: names are compared without
// regard to the case of ASCII letters, the same on every host.
inline char ascii_folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `a` and `b` are the same but for the case of ASCII letters.
inline bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_folded(x) == ascii_folded(y);
           });
}

// True when `name` ends in `suffix` (".wav"), whatever the case of its letters.
inline bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() &&
           equal_ignoring_case(name.substr(name.size() - suffix.size()), suffix);
}

// True when `a` comes before `b`; both are UTF-8.
bool before_as_people_sort(const std::string& a, const std::string& b);

} // namespace pev
