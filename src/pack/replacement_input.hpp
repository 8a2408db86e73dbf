#pragma once
// The one place that decides whether a file can take a clip's place in an
// archive, and turns it into samples: `pev replace` and a mounted archive's
// saved files both come through here, so they accept and refuse the same
// files. Today that is a 16-bit mono PCM WAV file at the archive's rate, of
// a length one clip can hold.

#include "common/error.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace pev::pack {

struct ReplacementSamples {
    Error error; // ok() when the file was accepted
    std::vector<std::int16_t> samples;
    std::vector<std::string> warnings; // what was taken on trust, for the user
};

// Reads `path` (a UTF-8 name) for a clip of an archive at `archive_rate`.
// Refusals name `path`: wav_refused (the reader's reason in `detail`),
// rate_mismatch (`value` its rate, `limit` the archive's), rate_zero,
// clip_too_long.
ReplacementSamples read_replacement(const std::string& path, std::uint32_t archive_rate);

} // namespace pev::pack
