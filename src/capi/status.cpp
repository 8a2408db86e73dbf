#include "capi/status.hpp"

namespace pev::capi {

pev_status status_of(archive::OpenResult result) {
    switch (result) {
    case archive::OpenResult::ok:
        return PEV_OK;
    case archive::OpenResult::not_an_archive:
    case archive::OpenResult::header_cut_short:
        return PEV_ERR_NOT_AN_ARCHIVE;
    case archive::OpenResult::too_many_clips:
        return PEV_ERR_TOO_MANY_CLIPS;
    case archive::OpenResult::negative_count:
        return PEV_ERR_NEGATIVE_COUNT;
    case archive::OpenResult::table_cut_short:
        return PEV_ERR_TABLE_CUT_SHORT;
    }
    return PEV_ERR_NOT_AN_ARCHIVE;
}

pev_status status_of(archive::ClipProblem problem) {
    switch (problem) {
    case archive::ClipProblem::none:
        return PEV_OK;
    case archive::ClipProblem::block_table_past_end:
        return PEV_ERR_BLOCK_TABLE_PAST_END;
    case archive::ClipProblem::malformed_block_size:
        return PEV_ERR_MALFORMED_BLOCK_SIZE;
    case archive::ClipProblem::bytes_past_room:
        return PEV_ERR_BYTES_PAST_ROOM;
    case archive::ClipProblem::bytes_past_end:
        return PEV_ERR_BYTES_PAST_END;
    case archive::ClipProblem::too_long_for_wav:
        return PEV_ERR_TOO_LONG_FOR_WAV;
    }
    return PEV_ERR_MALFORMED_BLOCK_SIZE;
}

pev_status status_of(const Error& error) {
    switch (error.code) {
    case ErrorCode::none:
        return PEV_OK;
    case ErrorCode::out_of_memory:
        return PEV_ERR_NO_MEMORY;
    case ErrorCode::cannot_open:
    case ErrorCode::cannot_list_folder:
        return PEV_ERR_CANNOT_OPEN;
    case ErrorCode::not_a_regular_file:
        return PEV_ERR_NOT_A_FILE;
    case ErrorCode::cannot_read:
        return PEV_ERR_IO;
    case ErrorCode::file_exists:
        return PEV_ERR_FILE_EXISTS;
    case ErrorCode::cannot_create:
    case ErrorCode::cannot_write:
    case ErrorCode::cannot_put_in_place:
    case ErrorCode::cannot_make_folder:
        return PEV_ERR_CANNOT_WRITE;
    case ErrorCode::archive_refused:
        return status_of(error.refusal);
    case ErrorCode::clip_refused:
        return status_of(error.problem);
    case ErrorCode::too_many_inputs:
        return PEV_ERR_TOO_MANY_CLIPS;
    case ErrorCode::wav_refused:
        return PEV_ERR_WAV_REFUSED;
    case ErrorCode::rate_zero:
    case ErrorCode::rate_mismatch:
        return PEV_ERR_INVALID_ARGUMENT;
    case ErrorCode::clip_too_long:
        return PEV_ERR_CLIP_TOO_LONG;
    case ErrorCode::like_count_mismatch:
    case ErrorCode::more_clips_than_laid_out:
    case ErrorCode::fewer_clips_than_laid_out:
        return PEV_ERR_LIKE_MISMATCH;
    case ErrorCode::archive_too_large:
        return PEV_ERR_ARCHIVE_TOO_LARGE;
    // The packer's command-line inputs never reach the library.
    case ErrorCode::no_numbered_inputs:
    case ErrorCode::too_many_numbered_inputs:
    case ErrorCode::folder_without_wavs:
    case ErrorCode::input_given_twice:
        return PEV_ERR_INTERNAL;
    }
    return PEV_ERR_INTERNAL;
}

} // namespace pev::capi

extern "C" {

const char* pev_strerror(int status) {
    switch (status) {
    case PEV_OK:
        return "success";
    case PEV_ERR_INVALID_ARGUMENT:
        return "invalid argument";
    case PEV_ERR_CLIP_INDEX:
        return "no clip at that index";
    case PEV_ERR_BUFFER_TOO_SMALL:
        return "buffer too small";
    case PEV_ERR_NO_MEMORY:
        return "out of memory";
    case PEV_ERR_WRITER_FINISHED:
        return "the writer has already finished its archive";
    case PEV_ERR_INTERNAL:
        return "an internal error of the library";
    case PEV_ERR_CANNOT_OPEN:
        return "cannot open the file";
    case PEV_ERR_CANNOT_WRITE:
        return "cannot write the file";
    case PEV_ERR_FILE_EXISTS:
        return "the file already exists";
    case PEV_ERR_NOT_A_FILE:
        return "not a regular file";
    case PEV_ERR_IO:
        return "a read failed or came up short";
    case PEV_ERR_NOT_AN_ARCHIVE:
        return "not a voice archive";
    case PEV_ERR_TOO_MANY_CLIPS:
        return "more than 9999 clips";
    case PEV_ERR_NEGATIVE_COUNT:
        return "the clip count is negative";
    case PEV_ERR_TABLE_CUT_SHORT:
        return "the entry table is cut short";
    case PEV_ERR_BLOCK_TABLE_PAST_END:
        return "its block-size table runs past the end of the file";
    case PEV_ERR_MALFORMED_BLOCK_SIZE:
        return "a block size has its top bit set";
    case PEV_ERR_BYTES_PAST_ROOM:
        return "its stored bytes run into the next clip";
    case PEV_ERR_BYTES_PAST_END:
        return "its stored bytes run past the end of the file";
    case PEV_ERR_TOO_LONG_FOR_WAV:
        return "it is too long for a WAV file";
    case PEV_ERR_CLIP_TOO_LONG:
        return "the clip needs more than 65535 blocks";
    case PEV_ERR_ARCHIVE_TOO_LARGE:
        return "the archive would pass 4 GiB";
    case PEV_ERR_LIKE_MISMATCH:
        return "the clip count differs from the model archive's";
    case PEV_ERR_WAV_REFUSED:
        return "the WAV file cannot be packed";
    }
    return "unknown status";
}

long pev_version(void) {
    return PEV_VERSION;
}

} // extern "C"
