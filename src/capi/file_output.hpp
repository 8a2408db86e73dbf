#pragma once
// Files the library writes (WAV files, archives) go through the packing
// engine's safe path: a temporary file beside the final name, renamed into
// place only when complete, and an existing file replaced only when asked.

#include "archive/byte_sink.hpp"
#include "pev/pev.h"

#include <functional>
#include <string>

namespace pev::capi {

// Writes `path` (UTF-8) with `write`, which fills the sink and returns an
// error message or an empty string. PEV_ERR_FILE_EXISTS when the file exists
// and `replace` is not set, PEV_ERR_CANNOT_WRITE for any other failure.
pev_status save_file(const std::string& path, bool replace,
                     const std::function<std::string(archive::ByteSink&)>& write);

} // namespace pev::capi
