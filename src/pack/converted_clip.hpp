#pragma once
// One recording turned into a clip through an InputConverter and added to
// an archive: the one way pack and replace take what their WAV reader does
// not.

#include "pack/archive_packer.hpp"
#include "pack/clip_encoder.hpp"
#include "pack/input_converter.hpp"

#include <string>

namespace pev::pack {

// Whether a large file is better left to the converter at once than read
// whole by the WAV reader first: true unless its first 64 KiB make a 16-bit
// mono WAV file at `rate` (0: any). A file the converter is given although
// it is such a WAV file comes out with the same samples (at its own rate, a
// 16-bit mono recording goes through exactly), so only the memory and the
// time of reading it whole are saved.
bool for_the_converter(const std::string& path, std::uint32_t rate);

// Converts `path` for `target`, encoding the samples in `encoder` as they
// come, and adds the clip to `packer`. Errors name `path`, unless a write of
// the archive failed. `done` says what the conversion did, also when the
// packer refused the clip (too long, say).
Error add_converted_clip(const InputConverter& converter, const std::string& path,
                         const ConvertTarget& target, ClipEncoder& encoder, ArchivePacker& packer,
                         ClipSummary& clip, Conversion& done);

} // namespace pev::pack
