#pragma once
// An archive read through the caller's callback: a ByteSource over a
// pev_read_callback, so that an archive inside another container, or behind
// whatever I/O a program has, needs no copy in memory.

#include "archive/byte_source.hpp"
#include "pev/pev.h"

#include <atomic>

namespace pev::capi {

class CallbackSource final : public archive::ByteSource {
  public:
    CallbackSource(pev_read_callback read, std::uint64_t size, void* user)
        : read_(read), size_(size), user_(user) {}

    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t offset, std::span<std::uint8_t> into) const override;
    archive::ReadOutcome read_some(std::uint64_t offset,
                                   std::span<std::uint8_t> into) const override;

    // Whether any read has failed, so that opening tells a failed read from
    // bytes that are not an archive.
    bool failed() const { return failed_.load(std::memory_order_relaxed); }

  private:
    pev_read_callback read_;
    std::uint64_t size_;
    void* user_;
    mutable std::atomic<bool> failed_{false};
};

} // namespace pev::capi
