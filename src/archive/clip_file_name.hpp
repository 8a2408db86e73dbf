#pragma once
// The names extracted clips are known by: "<base>_NNNN.wav", numbered by the
// clip's 1-based position in the entry table, at least four digits. The
// unpacker writes these names, the packer reads them back, and the `pev`
// tool's default name template gives the same.

#include <string>

namespace pev::archive {

std::string clip_file_name(const std::string& base_name, int position);

} // namespace pev::archive
