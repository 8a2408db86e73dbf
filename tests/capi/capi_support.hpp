#pragma once
// Small helpers for the C library's tests: handles that close themselves,
// archives opened from bytes, and zero-filled address space that costs no
// memory until it is touched.

#include "pev/pev.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace pev::test {

using Bytes = std::vector<std::uint8_t>;
using ArchiveHandle = std::unique_ptr<pev_archive, void (*)(pev_archive*)>;
using WriterHandle = std::unique_ptr<pev_writer, void (*)(pev_writer*)>;

// Opens `bytes` (which must outlive the handle); a null handle on failure.
ArchiveHandle open_bytes(std::span<const std::uint8_t> bytes);
ArchiveHandle open_path(const std::string& path);

// The status pev_open_memory gives for `bytes`.
pev_status open_status(std::span<const std::uint8_t> bytes);

// Clip `index` decoded the three ways memory allows; empty on failure.
std::vector<std::int16_t> decode_samples(const pev_archive* archive, std::size_t index);
Bytes decode_wav(const pev_archive* archive, std::size_t index);

// `size` bytes of zeros from the system's zero pages (nothing on hosts
// without anonymous mappings): a huge archive or clip for the price of the
// few pages a test writes.
class ZeroPages {
  public:
    explicit ZeroPages(std::size_t size);
    ~ZeroPages();
    ZeroPages(const ZeroPages&) = delete;
    ZeroPages& operator=(const ZeroPages&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace pev::test
