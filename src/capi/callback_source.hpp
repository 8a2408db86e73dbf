#pragma once
// An archive read through the caller's callback: a ByteSource over a
// pev_read_callback, so that an archive inside another container, or behind
// whatever I/O a program has, needs no copy in memory. And the check every
// archive's source goes through.

#include "archive/byte_source.hpp"
#include "pev/pev.h"

#include <atomic>
#include <memory>

namespace pev::capi {

class CallbackSource final : public archive::ByteSource {
  public:
    CallbackSource(pev_read_callback read, std::uint64_t size, void* user)
        : read_(read), size_(size), user_(user) {}

    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override;
    archive::ReadOutcome read_some(std::uint64_t offset,
                                   std::span<std::uint8_t> into) const override;

  private:
    pev_read_callback read_;
    std::uint64_t size_;
    void* user_;
};

// Any source, with a note of whether a read inside its size came up short,
// so that opening tells a failed read from bytes that are not an archive.
class CheckedSource final : public archive::ByteSource {
  public:
    explicit CheckedSource(std::unique_ptr<archive::ByteSource> source)
        : source_(std::move(source)) {}

    std::uint64_t size() const override { return source_->size(); }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override {
        return read_some(offset, into).got;
    }
    archive::ReadOutcome read_some(std::uint64_t offset,
                                   std::span<std::uint8_t> into) const override;
    std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t size) const override {
        return source_->view(offset, size);
    }

    // The system's reason for the first read that failed, -1 when one came up
    // short without a reason, 0 when none did.
    int failure() const { return failure_.load(std::memory_order_relaxed); }

  private:
    std::unique_ptr<archive::ByteSource> source_;
    mutable std::atomic<int> failure_{0};
};

} // namespace pev::capi
