#pragma once
// One decoded clip written as a WAV file through an OutputFile: complete
// under its name or not there at all, and an existing file replaced only
// when asked. WAV files are not synced to disk: they can be made again from
// the archive.

#include "common/error.hpp"
#include "platform/output_file.hpp"
#include "wav/frame.hpp"

#include <cstdint>
#include <span>
#include <string>

namespace pev::extraction {

// `frame` is turned into the file's bytes in place and written in one piece.
// `seen` is what the caller has just seen under `path`, if it looked.
Error write_wav_file(const std::string& path, const wav::Frame& frame, std::uint32_t rate,
                     bool replace, NameSeen seen = NameSeen::unknown);

} // namespace pev::extraction
