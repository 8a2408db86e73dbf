#pragma once
// Reads and encodes the WAV files of a packing run on worker threads, ahead
// of the calling thread, which takes the encoded clips in the files' order
// and writes them; while the next one is not ready it takes on a file
// itself rather than wait (and be woken for every file). Reading (mostly the system copying the
// files) and encoding then share the cores, so packing takes about their sum divided by the number
// of cores.
//
// Only small files are handled ahead (kAheadMaxFileBytes at most); a larger
// one is left to the calling thread, which reads and encodes it itself. The
// workers run ahead by up to kAheadBytes of files, so what they hold adds a
// few MiB at most to peak memory, whatever the clips' number or size.
// Nothing is printed and nothing is judged here: the caller checks each clip
// in order, so progress lines, errors and the archive are exactly what one
// thread gives.

#include "archive/scratch_buffer.hpp"
#include "codec/block_encoder.hpp"
#include "wav/wav_reader.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace pev::pack {

inline constexpr std::uint64_t kAheadMaxFileBytes = 1024 * 1024;
inline constexpr std::uint64_t kAheadBytes = 1024 * 1024;

// One file, read and, when it was accepted, encoded.
struct EncodedFile {
    bool left_to_caller = false; // too large: the caller reads and encodes it
    std::string error;           // why the file was refused; empty when accepted
    std::vector<std::string> warnings;
    std::uint32_t sample_rate = 0;
    std::uint64_t sample_count = 0;
    EncodedCounts counts;
    // The first counts.blocks sizes and counts.bytes bytes are the clip's.
    archive::ScratchBuffer<std::int16_t> block_sizes;
    archive::ScratchBuffer<std::uint8_t> bytes;
    std::exception_ptr failure; // what reading or encoding threw (std::bad_alloc)

    std::span<const std::int16_t> sizes() const;
    std::span<const std::uint8_t> stored() const;
};

// What one thread reads and encodes in, kept from file to file: as large as
// the largest file it has had.
struct EncodeBuffers {
    wav::WavReadBuffers read; // the file's bytes
    archive::ScratchBuffer<std::uint8_t> levels;
};

// Reads the WAV file at `path` and, when it is accepted, encodes it into
// `file`, quantising straight from the file's bytes: at most 4 bytes a
// sample (its bytes, its levels and its stored bytes) are held.
void read_and_encode(const std::string& path, EncodeBuffers& own, EncodedFile& file);

class EncodeAhead {
  public:
    // Starts `workers` threads on `paths` (which must outlive this); with
    // fewer (none could be had), running() is false.
    EncodeAhead(std::span<const std::string> paths, unsigned workers);
    ~EncodeAhead();
    EncodeAhead(const EncodeAhead&) = delete;
    EncodeAhead& operator=(const EncodeAhead&) = delete;

    bool running() const { return !workers_.empty(); }

    // The next file in order, waiting for it if need be. Rethrows what its
    // worker threw.
    EncodedFile take();

    // Hands a taken file's buffers back, for a later file to be encoded
    // into: no allocation once they have grown to the clips' size.
    void give_back(EncodedFile file);

  private:
    void run();
    void stop();
    // Takes on the next file, reads and encodes it and puts it with those
    // done; `lock` is held on entry and on return, and let go meanwhile.
    // Without `may_wait`, declines (false) a file there is no room for yet;
    // false too when another thread took it on first.
    bool work_on_next(std::unique_lock<std::mutex>& lock, EncodeBuffers& own, bool may_wait);

    std::span<const std::string> paths_;
    std::mutex mutex_;
    std::condition_variable done_changed_; // a file was encoded
    std::condition_variable room_changed_; // a file was taken
    std::size_t next_claim_ = 0;           // the next file a worker takes on
    std::size_t next_take_ = 0;            // the next file the caller takes
    std::uint64_t held_ = 0;               // bytes of files taken on and not yet taken
    std::map<std::size_t, std::pair<EncodedFile, std::uint64_t>> done_; // and their bytes
    std::vector<EncodedFile> spare_;
    EncodeBuffers own_; // the caller's, for the files it takes on itself
    bool stopping_ = false;
    std::vector<std::thread> workers_; // last: they start once everything they use exists
};

} // namespace pev::pack
