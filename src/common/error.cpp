#include "common/error.hpp"

#include <cerrno>
#include <utility>

namespace pev {

bool Error::concerns_whole_folder() const {
    switch (code) {
    case ErrorCode::cannot_create:
    case ErrorCode::cannot_write:
    case ErrorCode::cannot_put_in_place:
    case ErrorCode::cannot_make_folder:
        break;
    default:
        return false;
    }
    // Compared as conditions, so a Windows error code counts too.
    if (os == std::errc::no_space_on_device || os == std::errc::read_only_file_system) {
        return true;
    }
    // Refused permission to create or write says the folder is closed to
    // us; refused at the last step, the name is (a folder or a read-only
    // file in the way: Windows says "access denied" for both), since the
    // file could be made in that folder.
    if (code != ErrorCode::cannot_put_in_place &&
        (os == std::errc::permission_denied || os == std::errc::operation_not_permitted)) {
        return true;
    }
#ifdef EDQUOT
    return os == std::error_code(EDQUOT, std::generic_category());
#else
    return false;
#endif
}

Error os_error(ErrorCode code, std::string subject, std::error_code os) {
    Error error;
    error.code = code;
    error.subject = std::move(subject);
    error.os = os;
    return error;
}

Error os_error(ErrorCode code, std::string subject, int errno_value) {
    return os_error(code, std::move(subject),
                    std::error_code(errno_value, std::generic_category()));
}

Error error_about(ErrorCode code, std::string subject) {
    Error error;
    error.code = code;
    error.subject = std::move(subject);
    return error;
}

} // namespace pev
