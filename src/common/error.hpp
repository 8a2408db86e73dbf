#pragma once
// The one way the core says that something failed: what went wrong (a code),
// what it concerns (a file, a clip) and, where the system refused, the OS
// error. The core never words an error for people: every front end turns an
// Error into its own words in one table (Pev2wav's fixed lines, the `pev`
// tool's and the packers' sentences, the C library's status codes, the web
// page's messages).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace pev {

enum class ErrorCode : std::uint8_t {
    none,
    out_of_memory,

    // Files. `subject` is the file, `os` the system's reason.
    cannot_open,         // an input could not be opened
    not_a_regular_file,  // an input is a folder, a pipe or a device
    cannot_read,         // a read failed or came up short after opening
    file_exists,         // an output's name is taken and replacing was not asked for
    cannot_create,       // an output file could not be created in its folder
    cannot_write,        // writing, flushing or closing an output failed
    cannot_put_in_place, // a finished output could not take its name
    cannot_make_folder,  // an output folder could not be made
    cannot_list_folder,  // an input folder could not be listed

    // Archives and clips the reader refuses: `subject` is the archive.
    archive_refused, // `refusal` says why
    clip_refused,    // `clip` says which and `problem` why

    // Packing. `subject` is the input or the archive concerned.
    too_many_inputs,          // `value` inputs given; an archive holds at most 9999
    no_numbered_inputs,       // `subject` (BASE_0001.wav) is missing
    too_many_numbered_inputs, // `subject` (BASE_10000.wav) exists
    folder_without_wavs,      // `subject` is a folder holding no .wav file
    input_given_twice,        // `subject` is among the inputs twice (named or in a folder)
    wav_refused,              // `detail` is the WAV reader's reason
    rate_zero,                // a clip at 0 samples per second
    rate_mismatch,            // a clip at `value` Hz after clips at `limit` Hz
    clip_too_long,            // `value` samples need `limit` blocks; at most 65535
    like_count_mismatch,      // the model archive holds `value` clips, `limit` are packed
    more_clips_than_laid_out, // a clip beyond the count the archive was laid out for
    fewer_clips_than_laid_out,
    archive_too_large, // its entries would start beyond what 32-bit offsets reach
};

// The reader's verdict on a whole archive.
enum class OpenResult : std::uint8_t {
    ok,
    not_an_archive,   // another magic, or too short to hold one
    header_cut_short, // it begins with the magic but ends inside the 32-byte header
    too_many_clips,   // a count above 9999
    negative_count,   // a count with bit 31 set
    table_cut_short,  // the file ends inside the entry table
};

// Why the reader refuses one entry.
enum class ClipProblem : std::uint8_t {
    none,
    block_table_past_end, // its block-size table runs past the end of the file
    malformed_block_size, // a stored size with bit 15 set
    bytes_past_room,      // its stored bytes claim more than the room up to the next entry
    bytes_past_end,       // its stored bytes claim more than the file holds
    too_long_for_wav,     // its samples could not be described by a WAV file's 32-bit sizes
};

// Which clip an error concerns: its 0-based position in the entry table (its
// file is numbered position + 1) and the id the archive gives it.
struct ClipRef {
    std::size_t index = 0;
    std::uint16_t id = 0;
};

struct Error {
    ErrorCode code = ErrorCode::none;
    std::string subject; // the file the error concerns, as named (UTF-8)
    std::error_code os;  // the system's reason, when the system refused
    std::optional<ClipRef> clip;
    OpenResult refusal = OpenResult::ok;     // with archive_refused
    ClipProblem problem = ClipProblem::none; // with clip_refused
    std::uint64_t value = 0;                 // figures some codes carry, as each code says
    std::uint64_t limit = 0;
    std::string detail; // with wav_refused: the WAV reader's reason

    bool ok() const { return code == ErrorCode::none; }
    explicit operator bool() const { return !ok(); }

    // True when the failure concerns the output folder or the disk as a
    // whole (no space, read-only, no permission, quota) rather than one
    // file: every later file would fail the same way, so a run stops.
    bool concerns_whole_folder() const;
};

// Shorthands for the common shapes.
Error os_error(ErrorCode code, std::string subject, std::error_code os);
Error os_error(ErrorCode code, std::string subject, int errno_value);
Error error_about(ErrorCode code, std::string subject);

} // namespace pev
