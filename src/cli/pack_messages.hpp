#pragma once
// How the packers (Wav2pev and `pev pack`) word the core's errors: one
// sentence about the file concerned, "NAME: REASON", for the program to put
// its own name in front of.

#include "common/error.hpp"

#include <string>

namespace pev::cli {

std::string pack_error_text(const Error& error);

} // namespace pev::cli
