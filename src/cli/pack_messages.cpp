#include "cli/pack_messages.hpp"

namespace pev::cli {
namespace {

std::string number(std::uint64_t value) {
    return std::to_string(value);
}

std::string refusal(const Error& error) {
    switch (error.refusal) {
    case OpenResult::ok:
        break;
    case OpenResult::header_cut_short:
        return "it is too short to be a voice archive";
    case OpenResult::not_an_archive:
        return error.value < 32 ? "it is too short to be a voice archive"
                                : "it is not a voice archive (no PEVPAC magic)";
    case OpenResult::too_many_clips:
    case OpenResult::negative_count:
        return "its clip count " + std::to_string(static_cast<std::int64_t>(error.limit)) +
               " is out of range";
    case OpenResult::table_cut_short:
        return "its entry table is cut short";
    }
    return "it cannot be read as a voice archive";
}

std::string reason(const Error& error) {
    const std::string os = error.os.message();
    switch (error.code) {
    case ErrorCode::none:
        return "";
    case ErrorCode::out_of_memory:
        return "out of memory";
    case ErrorCode::cannot_open:
        return "cannot open it: " + os;
    case ErrorCode::not_a_regular_file:
        return "it is not a regular file";
    case ErrorCode::cannot_read:
        return "cannot read it: " + os;
    case ErrorCode::file_exists:
        return "already exists; use --force to replace it";
    case ErrorCode::cannot_create:
        return "cannot create it: " + os;
    case ErrorCode::cannot_write:
        return "cannot write it: " + os;
    case ErrorCode::cannot_put_in_place:
        return "cannot put it in place: " + os;
    case ErrorCode::cannot_make_folder:
        return "cannot make the folder: " + os;
    case ErrorCode::cannot_list_folder:
        return "cannot list it: " + os;
    case ErrorCode::archive_refused:
        return refusal(error);
    case ErrorCode::clip_refused:
        return "a clip of it cannot be read";
    case ErrorCode::too_many_inputs:
        return number(error.value) + " clips given; an archive holds at most 9999";
    case ErrorCode::no_numbered_inputs:
        return "not found, so there is nothing to pack";
    case ErrorCode::too_many_numbered_inputs:
        return "an archive holds at most 9999 clips";
    case ErrorCode::folder_without_wavs:
        return "it holds no .wav files";
    case ErrorCode::input_given_twice:
        return "it is given twice; each file is packed once";
    case ErrorCode::wav_refused:
        return error.detail;
    case ErrorCode::rate_zero:
        return "its sample rate is 0";
    case ErrorCode::rate_mismatch:
        return "its sample rate is " + number(error.value) +
               " Hz, but the clips before it are at " + number(error.limit) +
               " Hz; all clips of an archive share one rate";
    case ErrorCode::clip_too_long:
        return "its " + number(error.value) + " samples need " + number(error.limit) +
               " blocks of 1024; a clip holds at most 65535 blocks";
    case ErrorCode::like_count_mismatch:
        return "it holds " + number(error.value) + " clips, but " + number(error.limit) +
               " are being packed";
    case ErrorCode::more_clips_than_laid_out:
        return "more clips than the archive was laid out for";
    case ErrorCode::fewer_clips_than_laid_out:
        return "fewer clips than the archive was laid out for";
    case ErrorCode::archive_too_large:
        return "the archive would pass 4 GiB, beyond what its 32-bit offsets reach";
    }
    return "failed";
}

} // namespace

std::string pack_error_text(const Error& error) {
    return error.subject + ": " + reason(error);
}

} // namespace pev::cli
