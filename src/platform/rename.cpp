#include "platform/rename.hpp"

#include "platform/utf8_path.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pev {

#ifdef _WIN32

std::error_code rename_without_replacing(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    if (MoveFileExW(path_from_utf8(from).c_str(), path_from_utf8(to).c_str(), 0)) {
        return {};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        return std::make_error_code(std::errc::file_exists);
    }
    return {static_cast<int>(error), std::system_category()};
}

#else

namespace {

std::error_code last_error() {
    return {errno, std::generic_category()};
}

// Hosts or file systems without an exclusive rename: a hard link fails when
// `to` exists, and once it stands the temporary name can go.
std::error_code link_then_unlink(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) != 0) {
        return last_error();
    }
    unlink(from.c_str());
    return {};
}

} // namespace

std::error_code rename_without_replacing(const std::string& from, const std::string& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return last_error();
    }
#endif
    const std::error_code linked = link_then_unlink(from, to);
    if (linked != std::errc::operation_not_permitted &&
        linked != std::errc::operation_not_supported) {
        return linked;
    }
    // A file system without hard links (FAT on a memory card): checked, then
    // renamed, which leaves a moment for another program in between.
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(to, error))) {
        return std::make_error_code(std::errc::file_exists);
    }
    std::filesystem::rename(from, to, error);
    return error;
}

#endif

} // namespace pev
