#pragma once
// Reads the WAV files of a packing run on a second thread, ahead of the
// calling thread that encodes and writes them: the reading (mostly the
// system copying the files) and the encoding overlap, so packing takes
// about the longer of the two instead of their sum. The reader runs ahead by
// up to kReadAheadBytes of files, so the two threads seldom wait for each
// other, even on a machine busy with other work.
//
// Only small files are read ahead (kReadAheadMaxFileBytes at most); a larger
// one is left to the calling thread. So what is read ahead adds a few MiB at
// most to peak memory, whatever the clips' number or size. Results come back in the files'
// order; nothing is printed, so progress lines and errors stay exactly as
// one thread gives them.

#include "wav/wav_reader.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace pev::pack {

inline constexpr std::uint64_t kReadAheadMaxFileBytes = 1024 * 1024;
inline constexpr std::uint64_t kReadAheadBytes = 1024 * 1024;

// The file's size, or the largest there is when it cannot be had (it is then
// read alone, which says what is wrong with it).
std::uint64_t file_size_or_max(const std::string& path);

class WavReadAhead {
  public:
    // Starts reading `paths` (which must outlive this) on a second thread;
    // without one (none could be had) take() always declines.
    explicit WavReadAhead(std::span<const std::string> paths);
    ~WavReadAhead();
    WavReadAhead(const WavReadAhead&) = delete;
    WavReadAhead& operator=(const WavReadAhead&) = delete;

    // The result for the next file in order, waiting for it if need be;
    // nothing when the caller is to read that file itself (too large, or no
    // second thread). Rethrows what the read threw (std::bad_alloc).
    std::optional<wav::WavReadResult> take();

    // Hands a clip's samples back once they are encoded, for a later file
    // to be read into: the two threads then keep using the same memory
    // instead of allocating (and faulting in) new memory for every file.
    void give_back(std::vector<std::int16_t> samples);

  private:
    struct Read {
        std::uint64_t bytes = 0;                  // the file's size, while it is held
        std::optional<wav::WavReadResult> result; // none: left to the caller
        std::exception_ptr failure;
    };

    void run();

    std::span<const std::string> paths_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Read> ready_;                       // in order
    std::uint64_t held_ = 0;                       // bytes of files in ready_
    std::vector<std::vector<std::int16_t>> spare_; // samples given back, for reuse
    std::uint64_t spare_bytes_ = 0;
    bool stopping_ = false;
    std::thread worker_; // last: it starts once everything it uses exists
};

} // namespace pev::pack
