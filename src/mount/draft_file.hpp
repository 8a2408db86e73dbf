#pragma once
// A file being written in the mounted folder: an unnamed file in a private
// folder on disk (never memory, whatever its size), so that it vanishes
// with the process whatever ends it, and nothing is ever left behind.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <sys/types.h>

namespace pev::mount {

class DraftFile {
  public:
    // An empty file in `folder`; null with `error` (an errno) when none can
    // be made there.
    static std::unique_ptr<DraftFile> create(const std::string& folder, int& error);
    ~DraftFile();
    DraftFile(const DraftFile&) = delete;
    DraftFile& operator=(const DraftFile&) = delete;

    // Bytes read or written, or a negative errno.
    long read(std::uint64_t offset, std::span<std::uint8_t> into) const;
    long write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // 0 or a negative errno.
    int truncate(std::uint64_t size);
    // Makes this file a copy of `other`: 0 or a negative errno.
    int copy_from(const DraftFile& other);
    std::uint64_t size() const;
    // A name this process can open it by, for readers that take names.
    std::string path() const;

  private:
    explicit DraftFile(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace pev::mount
