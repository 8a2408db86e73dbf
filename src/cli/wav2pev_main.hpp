#pragma once
// The whole Wav2pev program as a function, so tests can run it in-process.
//
//   Wav2pev [--force] [--like ARCHIVE.pev] BASE [FILE.wav...]
//
// Packs BASE_0001.wav, BASE_0002.wav, ... (up to the first missing number),
// or the named files in the order given, into BASE.pev: the inverse of
// `Pev2wav BASE`.

#include <cstdio>
#include <span>
#include <string>

namespace pev::cli {

inline constexpr int kExitPacked = 0;
inline constexpr int kExitFailed = 1; // a file could not be read, packed or written
inline constexpr int kExitUsage = 2;  // the command line itself is wrong

// `args` holds the program name and the arguments, already split. Progress
// lines go to `out`, warnings and errors to `err`. Returns the exit status.
int run_wav2pev(std::span<const std::string> args, std::FILE* out, std::FILE* err);

} // namespace pev::cli
