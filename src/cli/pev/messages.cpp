#include "cli/pev/messages.hpp"

#include "cli/pack_messages.hpp"

namespace pev::cli::tool {

const char* clip_problem_text(ClipProblem problem) {
    switch (problem) {
    case ClipProblem::none:
        return "ok";
    case ClipProblem::block_table_past_end:
        return "its block-size table runs past the end of the file";
    case ClipProblem::malformed_block_size:
        return "a block size has its top bit set";
    case ClipProblem::bytes_past_room:
        return "its stored bytes run into the next clip";
    case ClipProblem::bytes_past_end:
        return "its stored bytes run past the end of the file";
    case ClipProblem::too_long_for_wav:
        return "it is too long for a WAV file";
    }
    return "unknown problem";
}

std::string archive_refusal_text(OpenResult result, const archive::ArchiveHeader& header) {
    const std::string count = std::to_string(header.wave_file_count);
    switch (result) {
    case OpenResult::ok:
        break;
    case OpenResult::not_an_archive:
        return "not a voice archive (it does not begin with PEVPAC)";
    case OpenResult::header_cut_short:
        return "the file is cut short inside its 32-byte header";
    case OpenResult::too_many_clips:
        return "its header claims " + count + " clips; an archive holds at most 9999";
    case OpenResult::negative_count:
        return "its header claims a negative number of clips (" + count + ")";
    case OpenResult::table_cut_short:
        return "the file ends inside its table of " + count + " clips";
    }
    return "";
}

std::string file_error_text(const Error& error) {
    const std::string os = error.os.message();
    std::string reason;
    switch (error.code) {
    case ErrorCode::file_exists:
        reason = "it appeared while extracting; use --force to replace it";
        break;
    case ErrorCode::cannot_open:
        reason = "cannot open it: " + os;
        break;
    case ErrorCode::cannot_create:
        reason = "cannot create it: " + os;
        break;
    case ErrorCode::cannot_write:
        // libsndfile's refusal has no system error, only its words.
        reason = "cannot write it: " + (error.os || error.detail.empty() ? os : error.detail);
        break;
    case ErrorCode::cannot_put_in_place:
        reason = "cannot put it in place: " + os;
        break;
    case ErrorCode::cannot_make_folder:
        reason = "cannot make the folder: " + os;
        break;
    default:
        reason = error.os ? os : "failed";
        break;
    }
    return error.subject + ": " + reason;
}

std::string replacement_refusal_text(const Error& error) {
    if (error.code == ErrorCode::rate_mismatch) {
        return error.subject + ": its sample rate is " + std::to_string(error.value) +
               " Hz, but the archive's clips are at " + std::to_string(error.limit) +
               " Hz; all clips of an archive share one rate";
    }
    return pack_error_text(error);
}

} // namespace pev::cli::tool
