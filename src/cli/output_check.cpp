#include "cli/output_check.hpp"

#include <cerrno>
#include <system_error>

namespace pev::cli {

std::string output_failure(std::FILE* out) {
    errno = 0;
    const bool flushed = std::fflush(out) == 0;
    // A write that failed earlier left the stream in error but may have left
    // nothing to flush, and so no errno.
    const int code = errno != 0 ? errno : EIO;
    if (flushed && std::ferror(out) == 0) {
        return "";
    }
    return std::generic_category().message(code);
}

} // namespace pev::cli
