#include "platform/output_error.hpp"

namespace pev {

Error output_error(const OutputFile& file) {
    const std::error_code os = file.error();
    if (os == std::errc::file_exists) {
        return error_about(ErrorCode::file_exists, file.path());
    }
    switch (file.failed_step()) {
    case OutputStep::none:
        break;
    case OutputStep::create:
        return os_error(ErrorCode::cannot_create, file.path(), os);
    case OutputStep::write:
        return os_error(ErrorCode::cannot_write, file.path(), os);
    case OutputStep::commit:
        return os_error(ErrorCode::cannot_put_in_place, file.path(), os);
    }
    return {};
}

} // namespace pev
