#pragma once
// Where an archive's bytes go: an output file or a buffer in memory. The
// archive writer appends the entries as they come and goes back once, at the
// end, to fill in the header and the table.

#include "platform/output_file.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>
#include <vector>

namespace pev::archive {

class ByteSink {
  public:
    virtual ~ByteSink() = default;

    // Appends `bytes` at the end. False when they could not all be written.
    virtual bool append(std::span<const std::uint8_t> bytes) = 0;

    // Writes `bytes` over what was appended, from `offset` on; later appends
    // still go to the end. False when they could not all be written.
    virtual bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;

    // Pushes out everything written so far. False when that failed.
    virtual bool flush() = 0;

    // Why the last call that returned false failed, as the system said.
    virtual std::error_code error() const { return {}; }
};

// Writes to an output file already created; committing it is the owner's
// job.
class OutputFileSink final : public ByteSink {
  public:
    explicit OutputFileSink(OutputFile& file) : file_(file) {}

    bool append(std::span<const std::uint8_t> bytes) override { return !file_.append(bytes); }
    bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        return !file_.write_at(offset, bytes);
    }
    bool flush() override { return !file_.flush(); }
    std::error_code error() const override { return file_.error(); }

  private:
    OutputFile& file_;
};

// Counts the bytes and keeps none: an archive in memory is written once to
// this, to learn its size, and once into a BufferSink of that size.
// Collecting it in a growing vector and copying that out would hold up to
// three times the archive at once.
class SizingSink final : public ByteSink {
  public:
    bool append(std::span<const std::uint8_t> bytes) override;
    bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool flush() override { return true; }

    std::uint64_t size() const { return size_; }

  private:
    std::uint64_t size_ = 0;
};

// Fills a buffer of a known size; refuses to write past it, and to flush
// before it is full.
class BufferSink final : public ByteSink {
  public:
    explicit BufferSink(std::span<std::uint8_t> buffer) : buffer_(buffer) {}

    bool append(std::span<const std::uint8_t> bytes) override;
    bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool flush() override { return used_ == buffer_.size(); }

  private:
    std::span<std::uint8_t> buffer_;
    std::size_t used_ = 0;
};

// Collects the bytes in memory. Throws std::bad_alloc when they do not fit.
class MemorySink final : public ByteSink {
  public:
    bool append(std::span<const std::uint8_t> bytes) override;
    bool write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    bool flush() override;

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

  private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace pev::archive
