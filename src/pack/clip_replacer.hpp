#pragma once
// Writes an archive with some of its clips replaced by WAV files and every
// other clip copied as it is stored (see stored_clip.hpp): nothing else is
// decoded or encoded again, and the entry ids and the header bytes the
// unpacker never reads are kept, so the new archive differs from the old one
// only in the clips replaced. The output goes through save_archive, so the
// source itself can be the output: it stays whole, and readable, until the
// new archive is complete and takes its name.
//
// Nothing is printed here: progress goes to the callbacks, and the outcome
// carries the error for the front end to word.

#include "archive/archive_reader.hpp"
#include "common/error.hpp"
#include "pack/archive_packer.hpp"
#include "pack/input_converter.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pev::pack {

struct Replacement {
    std::size_t index = 0; // the clip's 0-based position
    std::string file;      // the WAV file that takes its place (UTF-8 name)
    // A factor on its samples (a loudness match), which are then brought
    // back to 16 bits as conversions do (see level_match.hpp's apply_gain).
    double gain = 1.0;
};

struct ReplaceRequest {
    std::string source;   // the archive read, as named in errors about its clips
    std::string output;   // the archive to write; may be the source
    bool replace = false; // the output may exist (always so when it is the source)
    // Distinct positions below the source's clip count, in any order.
    std::vector<Replacement> replacements;
    // Called once the source was read to its end, before the output takes
    // its name, to close it: Windows replaces no file that is open. The
    // source is not touched after it.
    std::function<void()> done_reading;
    // Takes the files the WAV reader does not take as they are, or at
    // another rate than the archive's (see input_converter.hpp), resampling
    // them to the archive's rate.
    const InputConverter* converter = nullptr;
    // Whether a gain other than 1 dithers the samples it scales.
    bool dither = true;
};

struct ReplaceProgress {
    // Something in a WAV file was taken on trust (a data chunk cut short).
    std::function<void(const std::string& file, const std::string& warning)> warning;
    // Clip `index` (of id `id`) is in the archive, from `file`.
    std::function<void(std::size_t index, std::uint16_t id, const std::string& file,
                       const ClipSummary& clip)>
        replaced;
    // `file` was converted (before its clip is added).
    std::function<void(const std::string& file, const Conversion& conversion)> converted;
    // Clip `index` is in the archive as it was.
    std::function<void(std::size_t index, std::uint16_t id, const ClipSummary& clip)> copied;
};

struct ReplaceOutcome {
    Error error; // ok() when the archive is in place
    std::size_t clips = 0;
    std::size_t replaced = 0;
    std::uint64_t archive_bytes = 0;

    bool ok() const { return error.ok(); }
};

// The clips of `source` that are not replaced and cannot be copied, each as
// a clip_refused error naming the clip and its problem: an archive with such
// a clip can be rewritten only when it is replaced too.
std::vector<Error> clips_that_cannot_be_copied(const archive::ArchiveReader& source,
                                               const std::vector<Replacement>& replacements);

// Writes `request.output` from `source` (an opened archive). A WAV file is
// read when its turn comes, as the packers read them, and must be at the
// source's rate (rate_mismatch: `value` its rate, `limit` the archive's),
// unless the request's converter takes it.
// Errors name the WAV file, the source (a clip that cannot be copied) or the
// output; on any of them the output is left as it was.
ReplaceOutcome replace_clips(const archive::ArchiveReader& source, const ReplaceRequest& request,
                             const ReplaceProgress& progress = {});

} // namespace pev::pack
