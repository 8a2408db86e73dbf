#pragma once
// A clip's WAV file, byte for byte as `pev extract` writes it (the 44-byte
// header, then the samples little-endian), served at any offset without the
// clip ever being decoded whole: a read decodes only the blocks its bytes
// come from, through a streaming reader that seeks. Readers are kept for
// the clips read last, so reading a file from start to end scans it once
// and decodes each block once.

#include "archive/clip_reader.hpp"
#include "mount/archive_generation.hpp"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace pev::mount {

class ClipBytes {
  public:
    // At most `kept` idle readers are kept; a reader of the largest clip
    // holds about 1 MiB of block starts and 160 KiB of buffers.
    explicit ClipBytes(std::size_t kept = 8) : kept_(kept) {}

    // Copies the bytes of clip `index`'s WAV file from `offset` into `out`
    // and returns how many (fewer only at its end), or a negative errno.
    // Safe to call from several threads at once.
    long read(const std::shared_ptr<const ArchiveGeneration>& archive, std::size_t index,
              std::uint64_t offset, std::span<std::uint8_t> out);

    // Lets every kept reader go (after a rewrite, they read the old file).
    void forget();

  private:
    struct Kept {
        std::shared_ptr<const ArchiveGeneration> archive;
        std::size_t index = 0;
        std::unique_ptr<archive::ClipReader> reader;
    };
    Kept take(const std::shared_ptr<const ArchiveGeneration>& archive, std::size_t index,
              int& error);
    void give_back(Kept kept);

    std::size_t kept_;
    std::mutex mutex_;
    std::list<Kept> idle_; // most recently used first
};

} // namespace pev::mount
