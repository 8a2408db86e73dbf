#include "platform/files.hpp"

#include <limits>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <vector>
#include <windows.h>
#endif

namespace pev {

#ifdef _WIN32

namespace {
std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}
} // namespace

// "N": not inherited by child processes.
std::FILE* open_for_reading(const std::string& path) {
    return _wfopen(widen(path).c_str(), L"rbN");
}

std::FILE* open_for_writing(const std::string& path) {
    return _wfopen(widen(path).c_str(), L"wbN");
}

ExistingName existing_name(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ExistingName::none
                                                                              : ExistingName::other;
    }
    constexpr DWORD kNotPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
    return (attributes & kNotPlain) != 0 ? ExistingName::other : ExistingName::writable_file;
}

FileIdentity identity_of(const std::string& path) {
    // Opened for no access at all, which folders and files in use allow.
    HANDLE handle =
        CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {};
    }
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (!known) {
        return {};
    }
    return {information.dwVolumeSerialNumber,
            (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow, true};
}

Occupant occupant_of(const std::string& path, const FileIdentity& same_as) {
    if (GetFileAttributesW(widen(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Occupant::nothing;
    }
    const FileIdentity identity = identity_of(path);
    const bool same = identity.known && same_as.known && identity.device == same_as.device &&
                      identity.file == same_as.file;
    return same ? Occupant::same_file : Occupant::a_file;
}

bool seek_to(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<__int64>::max())) {
        return false;
    }
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t seek_to_end(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return _ftelli64(file);
}

#else

namespace {

// Opened close-on-exec, so that a program started meanwhile (by a thread of
// a program using the library, say) does not hold the file open.
std::FILE* open_stream(const std::string& path, int flags, const char* mode) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

} // namespace

// A named pipe is opened without waiting for a writer, which may never come:
// whoever reads it then finds it empty, or not seekable, at once.
std::FILE* open_for_reading(const std::string& path) {
    std::FILE* file = open_stream(path, O_RDONLY | O_NONBLOCK, "rb");
    if (file != nullptr) {
        const int fd = fileno(file);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return file;
}

std::FILE* open_for_writing(const std::string& path) {
    return open_stream(path, O_WRONLY | O_CREAT | O_TRUNC, "wb");
}

ExistingName existing_name(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? ExistingName::none : ExistingName::other;
    }
    const bool writable = S_ISREG(status.st_mode) && access(path.c_str(), W_OK) == 0;
    return writable ? ExistingName::writable_file : ExistingName::other;
}

namespace {

bool same_file(const struct stat& status, const FileIdentity& identity) {
    return identity.known && static_cast<std::uint64_t>(status.st_dev) == identity.device &&
           static_cast<std::uint64_t>(status.st_ino) == identity.file;
}

} // namespace

FileIdentity identity_of(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        return {};
    }
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            true};
}

Occupant occupant_of(const std::string& path, const FileIdentity& same_as) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        return Occupant::nothing;
    }
    // A link is the file it leads to, if any.
    if (S_ISLNK(status.st_mode) && same_as.known && stat(path.c_str(), &status) != 0) {
        return Occupant::a_file;
    }
    return same_file(status, same_as) ? Occupant::same_file : Occupant::a_file;
}

bool seek_to(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t seek_to_end(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(ftello(file));
}

PositionalRead read_at_offset(int fd, std::uint64_t offset, std::span<std::uint8_t> into) {
    std::size_t got = 0;
    while (got < into.size()) {
        const std::uint64_t at = offset + got;
        if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return {got, EOVERFLOW};
        }
        const ssize_t done =
            pread(fd, into.data() + got, into.size() - got, static_cast<off_t>(at));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return {got, errno};
        }
        if (done == 0) {
            break; // the end of the file
        }
        got += static_cast<std::size_t>(done);
    }
    return {got, 0};
}

#endif

} // namespace pev
