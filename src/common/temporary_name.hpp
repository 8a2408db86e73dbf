#pragma once
// Files are written under a temporary name in their own folder and renamed
// into place when complete. The random part keeps two runs that write the
// same target apart.

#include <cstdio>
#include <random>
#include <string>

namespace pev {

// ".XXXXXXXX.tmp", eight random hex digits.
inline std::string temporary_suffix() {
    std::random_device random;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    return suffix;
}

} // namespace pev
