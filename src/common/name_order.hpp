#pragma once
// The order people expect names in: letters without regard to case, and runs
// of digits by their value, so clip2 comes before clip10 and B.wav after
// a.wav. Names equal in that order fall back to their bytes, so the order is
// total and the same on every host.

#include <string>

namespace pev {

// True when `a` comes before `b`; both are UTF-8.
bool before_as_people_sort(const std::string& a, const std::string& b);

} // namespace pev
