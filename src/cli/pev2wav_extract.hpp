#pragma once
// The extraction loop: every entry of an open voice archive becomes one WAV
// file named "<base>_NNNN.wav" after its 1-based position in the entry table.

#include "extraction/clip_stream.hpp"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace pev::cli {

struct ExtractOptions {
    std::FILE* out = stdout; // progress lines and most error lines
    std::FILE* err = stderr; // the entry size error alone
    // Creates or truncates an output file for binary writing; nullptr when it
    // cannot. Defaults to the real file system.
    std::function<std::FILE*(const std::string& name)> create_output;
    // As StreamOptions::threads: 0 decides from the host and the archive.
    unsigned threads = 0;
};

// Extracts every entry in table order and prints "Extracted: %s\n" for each
// file. Stops at the first failure, leaving the files already written.
// Returns the number of entries (0 for an empty archive) or -1 on failure.
// Neither opens nor closes `archive`. `stats` is filled when it fails too, so
// a refused entry can be seen to have taken no buffer.
int extract_archive(const std::string& base_name, std::FILE* archive,
                    const ExtractOptions& options = {}, extraction::ExtractStats* stats = nullptr);

} // namespace pev::cli
