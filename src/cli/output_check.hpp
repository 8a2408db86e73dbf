#pragma once
// Whatever a program printed on standard output must have arrived: a
// listing cut short by a full disk is a failure, not a success.

#include <cstdio>
#include <string>

namespace pev::cli {

// Flushes `out`; "" when everything written to it arrived, else the
// system's reason.
std::string output_failure(std::FILE* out);

} // namespace pev::cli
