#pragma once
// Puts a whole file in place at once: written under a temporary name beside
// its final one and renamed only when complete, so a failure leaves no
// half-written file and readers never see one.

#include "pev/pev.h"

#include <cstdint>
#include <span>
#include <string>

namespace pev::capi {

// Writes `bytes` to `path` (UTF-8). An existing file is replaced only when
// `replace` is set, else PEV_ERR_FILE_EXISTS. PEV_ERR_CANNOT_WRITE when the
// file cannot be created, written or renamed into place.
pev_status write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                 bool replace);

} // namespace pev::capi
