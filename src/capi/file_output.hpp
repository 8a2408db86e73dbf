#pragma once
// Files the library writes (WAV files, archives) go through the packing
// engine's safe path: a temporary file beside the final name, renamed into
// place only when complete, and an existing file replaced only when asked.

#include "archive/byte_sink.hpp"
#include "common/error.hpp"
#include "pev/pev.h"

#include <functional>
#include <string>

namespace pev::capi {

// Writes `path` (UTF-8) with `write`, which fills the sink. The engine's
// error becomes the status: PEV_ERR_FILE_EXISTS when the file exists and
// `replace` is not set, PEV_ERR_CANNOT_WRITE for a failure to write.
pev_status save_file(const std::string& path, bool replace,
                     const std::function<Error(archive::ByteSink&)>& write);

} // namespace pev::capi
