#include "mount/draft_file.hpp"

#include "platform/files.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pev::mount {

std::unique_ptr<DraftFile> DraftFile::create(const std::string& folder, int& error) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a name removed at once.
        std::string name = folder + "/.pev-mount-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            ::unlink(name.c_str());
        }
    }
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    return std::unique_ptr<DraftFile>(new DraftFile(fd));
}

DraftFile::~DraftFile() {
    ::close(fd_);
}

long DraftFile::read(std::uint64_t offset, std::span<std::uint8_t> into) const {
    const PositionalRead read = read_at_offset(fd_, offset, into);
    return read.os_error != 0 ? -read.os_error : static_cast<long>(read.got);
}

long DraftFile::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd_, bytes.data() + put, bytes.size() - put, static_cast<off_t>(offset + put));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return put > 0 ? static_cast<long>(put) : -errno;
        }
        put += static_cast<std::size_t>(n);
    }
    return static_cast<long>(put);
}

int DraftFile::truncate(std::uint64_t size) {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : -errno;
}

int DraftFile::copy_from(const DraftFile& other) {
    if (const int error = truncate(0); error < 0) {
        return error;
    }
    std::vector<std::uint8_t> buffer(std::size_t{1} << 16);
    for (std::uint64_t offset = 0;;) {
        const long got = other.read(offset, buffer);
        if (got <= 0) {
            return static_cast<int>(got);
        }
        const long put = write(offset, {buffer.data(), static_cast<std::size_t>(got)});
        if (put < got) {
            return put < 0 ? static_cast<int>(put) : -EIO;
        }
        offset += static_cast<std::uint64_t>(got);
    }
}

std::uint64_t DraftFile::size() const {
    struct stat status {};
    return ::fstat(fd_, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

std::string DraftFile::path() const {
    return "/proc/self/fd/" + std::to_string(fd_);
}

} // namespace pev::mount
