#pragma once
// Packs WAV files into an archive file: the whole run behind a packing front
// end (Wav2pev, a pack command). Inputs are checked before anything is
// written: at most 9999 of them, an archive that may be written, a "like"
// archive of as many clips. Then each file is read, packed and let go in
// turn, so only one clip is in memory (and, on worker threads, up to 1 MiB
// of the small files after it; see encode_ahead.hpp), into a temporary file
// that becomes the archive only when every clip is in; on any failure
// nothing is left.
//
// Nothing is printed here: progress goes to the callbacks, and the outcome
// carries the error for the front end to show with its own name in front.

#include "common/error.hpp"
#include "pack/archive_packer.hpp"
#include "pack/input_converter.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pev::pack {

struct PackRequest {
    std::string archive;             // the archive to write (UTF-8 name)
    std::vector<std::string> inputs; // the WAV files, in clip order
    std::optional<std::string> like; // an archive whose ids and unread bytes to keep
    bool force = false;              // replace an existing archive
    // 1: everything on the calling thread; N >= 2: N - 1 worker threads
    // read and encode the next files while the calling thread writes them
    // (and encodes too while it waits); 0: one thread per core. The archive
    // and the progress are the same either way.
    unsigned threads = 0;
    // The rate of the archive's clips; 0: the first input's, which every
    // other must share.
    std::uint32_t rate = 0;
    // Takes the inputs the WAV reader does not take as they are (see
    // input_converter.hpp); without one, every input is a 16-bit mono WAV
    // file at the archive's rate or is refused.
    const InputConverter* converter = nullptr;
};

struct PackProgress {
    // Something in a file was taken on trust (a data chunk cut short).
    std::function<void(const std::string& file, const std::string& warning)> warning;
    // A file's clip is in the archive.
    std::function<void(const std::string& file, const ClipSummary& clip)> packed;
    // A file was converted (before its clip is packed).
    std::function<void(const std::string& file, const Conversion& conversion)> converted;
};

struct PackOutcome {
    Error error; // ok() when the archive is in place
    std::size_t clips = 0;
    std::uint64_t stored_samples = 0;
    std::uint64_t archive_bytes = 0;

    bool ok() const { return error.ok(); }
};

// Runs the whole packing. Errors name the input they concern, or the
// archive. Throws std::bad_alloc when memory runs out (and leaves no file
// behind then either).
PackOutcome pack_wav_files(const PackRequest& request, const PackProgress& progress = {});

// How a clip is stored, for progress lines:
// "(N samples, B blocks: S silent, R raw, D delta, N bytes)", and what an
// odd length added.
std::string clip_figures(const ClipSummary& clip);

// The progress line of one packed file:
// "Packed: NAME (N samples, B blocks: S silent, R raw, D delta, N bytes)",
// and what an odd length added.
std::string packed_clip_line(const std::string& file, const ClipSummary& clip);

// The closing line of a packing run:
// "Packed N clips, S samples, into NAME: B bytes (P% of the 2S bytes of samples)".
std::string packed_archive_line(const std::string& archive, const PackOutcome& outcome);

} // namespace pev::pack
