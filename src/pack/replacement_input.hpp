#pragma once
// The one place that decides whether a file can take a clip's place in an
// archive, and turns it into samples: `pev replace` and a mounted archive's
// saved files both come through here, so they accept and refuse the same
// files: a 16-bit mono PCM WAV file at the archive's rate, of a length one
// clip can hold, and, where the front end hands over an InputConverter (pev
// built with sound files), any recording the converter reads, resampled to
// the archive's rate.

#include "common/error.hpp"
#include "pack/input_converter.hpp"

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

// How a file is to be taken: read as the WAV file it is (`read`: its samples,
// or why it is refused), or handed to `converter`, which is done when there
// is one and the file is no 16-bit mono WAV file at the archive's rate.
struct ReplacementRoute {
    bool convert = false;
    ReplacementSamples read; // when not converted
};
ReplacementRoute route_replacement(const std::string& path, std::uint32_t archive_rate,
                                   const InputConverter* converter);

// The samples `path` gives a clip at `archive_rate`, read whole as
// replace_clips takes it with `converter` (converted ones bounded by the
// longest clip); `done` says what a conversion did, its description empty
// when the file was taken as it is.
ReplacementSamples load_replacement(const std::string& path, std::uint32_t archive_rate,
                                    const InputConverter* converter, Conversion& done);

// Whether `path` may take a clip's place, as replace_clips would take it
// with `converter`: ok(), or the refusal. Converted samples are counted, not
// kept.
Error judge_replacement(const std::string& path, std::uint32_t archive_rate,
                        const InputConverter* converter);

} // namespace pev::pack
