#pragma once
// The extraction loop: every entry of an open voice archive becomes one WAV
// file named "<base>_NNNN.wav" after its 1-based position in the entry table.

#include "archive/clip_stream.hpp"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace pev::archive {

struct ExtractOptions {
    std::FILE* out = stdout; // progress lines and most error lines
    std::FILE* err = stderr; // the entry size error alone
    // Creates or truncates an output file for binary writing; nullptr when it
    // cannot. Defaults to the real file system.
    std::function<std::FILE*(const std::string& name)> create_output;
    // As StreamOptions::threads: 0 decides from the host and the archive.
    unsigned threads = 0;
};

// The name of the WAV file of the entry at 1-based `position`:
// "<base>_NNNN.wav", at least four digits. The packer reads the same names.
std::string clip_file_name(const std::string& base_name, int position);

// Extracts every entry in table order and prints "Extracted: %s\n" for each
// file. Stops at the first failure, leaving the files already written.
// Returns the number of entries (0 for an empty archive) or -1 on failure.
// Neither opens nor closes `archive`. `stats` is filled when it fails too, so
// a refused entry can be seen to have taken no buffer.
int extract_archive(const std::string& base_name, std::FILE* archive,
                    const ExtractOptions& options = {}, ExtractStats* stats = nullptr);

} // namespace pev::archive
