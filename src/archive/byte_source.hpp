#pragma once
// Where an archive's bytes come from: an open file or a buffer in memory.
// The reader asks for byte ranges by absolute offset, so it never depends on
// a stream position, and the same reading code serves files and memory.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>

namespace pev::archive {

// What a read brought: the bytes copied and, when the system refused, its
// error number (0 when the source simply held fewer bytes).
struct ReadOutcome {
    std::size_t got = 0;
    int os_error = 0;
};

class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // The number of bytes the source holds.
    virtual std::uint64_t size() const = 0;

    // Copies up to into.size() bytes from `offset` and returns how many it
    // copied: fewer at the end, or when a read fails midway. Safe to call
    // from several threads at once.
    virtual std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;

    // The same, with the system's reason when a read failed.
    virtual ReadOutcome read_some(std::uint64_t offset, std::span<std::uint8_t> into) const {
        return {read_at(offset, into), 0};
    }

    // The bytes from `offset` on, up to `size` of them, without a copy, for
    // sources that hold them in memory; empty for the others.
    virtual std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t size) const {
        (void)offset;
        (void)size;
        return {};
    }
};

// An open file, borrowed: the caller closes it after the source is gone. Its
// size is taken once, when the source is made. Reads never move the file's
// position on POSIX hosts; elsewhere reads from several threads take turns,
// since they share it.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(std::FILE* file);

    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override;
    ReadOutcome read_some(std::uint64_t offset, std::span<std::uint8_t> into) const override;

  private:
    std::FILE* file_;
    std::uint64_t size_ = 0;
#ifdef _WIN32
    mutable std::mutex mutex_;
#endif
};

// Bytes in memory, borrowed: they must outlive the source and every reader
// of it, and must not change meanwhile.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override;
    std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t size) const override {
        if (offset >= bytes_.size()) {
            return {};
        }
        const auto from = static_cast<std::size_t>(offset);
        return bytes_.subspan(from, std::min(size, bytes_.size() - from));
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

} // namespace pev::archive
