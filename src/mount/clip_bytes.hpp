#pragma once
// A clip's WAV file, byte for byte as `pev extract` writes it (the 44-byte
// header, then the samples little-endian), served at any offset without the
// clip ever being decoded whole: a read decodes only the blocks its bytes
// come from.
//
// Programs mostly read a file from its start to its end, and the kernel asks
// for it in that order: such reads go on decoding block after block from
// where the last one stopped, with no scan of the clip first. A read
// anywhere else opens a streaming reader (archive/clip_reader.hpp), which
// scans the clip once for where its blocks start and then seeks. Readers
// are kept for the clips read last, so reading a file through costs its
// decoding and nothing more.

#include "archive/archive_reader.hpp"
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
    // At most `kept` idle readers are kept; one holds a decoded block (128
    // KiB at most), and once it has seeked, up to about 1 MiB of block
    // starts for the largest clip.
    explicit ClipBytes(std::size_t kept = 8);
    ~ClipBytes();

    // Copies the bytes of clip `index`'s WAV file from `offset` into `out`
    // and returns how many (fewer only at its end), or a negative errno.
    // Safe to call from several threads at once.
    long read(const std::shared_ptr<const ArchiveGeneration>& archive, std::size_t index,
              std::uint64_t offset, std::span<std::uint8_t> out);

    // Lets every kept reader go (after a rewrite, they read the old file).
    void forget();

  private:
    struct Reader;
    std::unique_ptr<Reader> take(const std::shared_ptr<const ArchiveGeneration>& archive,
                                 std::size_t index);
    void give_back(std::unique_ptr<Reader> reader);

    std::size_t kept_;
    std::mutex mutex_;
    std::list<std::unique_ptr<Reader>> idle_; // most recently used first
};

} // namespace pev::mount
