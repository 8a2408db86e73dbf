#pragma once
// A buffer that is reused from entry to entry and only grows, so extracting
// thousands of clips costs a handful of allocations, and peak memory is set
// by the largest entry alone.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <span>

namespace pev::archive {

template <class T> class ScratchBuffer {
  public:
    // A span of `count` elements whose contents are unspecified. Throws
    // std::bad_alloc when the memory cannot be had.
    std::span<T> take(std::uint64_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_alloc();
        }
        const auto wanted = static_cast<std::size_t>(count);
        if (wanted > capacity_) {
            data_.reset();
            capacity_ = 0;
            data_.reset(new T[wanted]);
            capacity_ = wanted;
        }
        return {data_.get(), wanted};
    }

    std::size_t capacity() const { return capacity_; }
    const T* data() const { return data_.get(); }

  private:
    std::unique_ptr<T[]> data_;
    std::size_t capacity_ = 0;
};

} // namespace pev::archive
