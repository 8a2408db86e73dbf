#pragma once
// The whole Pev2wav program as a function, so tests can run it in-process.

#include <cstdio>
#include <span>
#include <string>

namespace pev::cli {

// `args` holds the program name and the arguments, already split; only the
// first argument is used, as the archive's base name. Returns the exit
// status, which is 0 whatever happened.
int run_pev2wav(std::span<const std::string> args, std::FILE* out, std::FILE* err);

} // namespace pev::cli
