#pragma once
// No exception leaves a program's main: what the program did not expect
// ends the run with one line on standard error and status 1, never an abort
// that prints nothing.

#include <cstdio>
#include <functional>

namespace pev::cli {

// Runs `body` and returns its status; an exception it lets out is named on
// `err` as "PROGRAM: out of memory" or "PROGRAM: internal error: WHAT", and
// the status is then 1.
int run_guarded(const char* program, std::FILE* err, const std::function<int()>& body) noexcept;

} // namespace pev::cli
