#pragma once
// Archives are written through an OutputFile: nothing appears under the
// archive's name until it is complete, an existing archive is replaced only
// when asked, and the bytes and the name reach the disk before the write
// counts as done, so a crash leaves the old archive or the new one.

#include "archive/byte_sink.hpp"
#include "common/error.hpp"

#include <functional>
#include <string>

namespace pev::pack {

// Creates `path` (UTF-8), has `write` fill it, and gives it its name. An
// error `write` returns keeps its subject (an input being packed), but a
// failed write, or an error about no file, names the archive.
Error save_archive(const std::string& path, bool replace,
                   const std::function<Error(archive::ByteSink&)>& write);

} // namespace pev::pack
