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

// A clip's WAV file written ahead of its turn, under no name (or a temporary
// one): commit() gives it its name, replacing what is there; destroyed
// before, it leaves nothing. A failure to create or write it is kept for
// commit() to report.
class WavFileAhead {
  public:
    // `frame` is turned into the file's bytes in place, as by write_wav_file.
    WavFileAhead(const std::string& path, const wav::Frame& frame, std::uint32_t rate);

    // The file's bytes, in the frame's buffer: for writing them elsewhere.
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    // `seen`: what the caller has just seen under the name.
    Error commit(NameSeen seen);

  private:
    OutputFile file_;
    std::span<const std::uint8_t> bytes_;
};

} // namespace pev::extraction
