#pragma once
// Reads the next WAV file on a second thread while the calling thread
// encodes and writes the one before: the reading (mostly the system copying
// the file) and the encoding overlap, so packing takes about the longer of
// the two instead of their sum.
//
// Only small files are read ahead (kReadAheadMaxBytes at most), so the clip
// in flight adds at most twice that to peak memory (its file's bytes and
// its samples while it is parsed), whatever the clips' number or size.
// Results come back in the order the files were started, one at a time;
// nothing is printed, so progress lines and errors stay as one thread gives
// them.

#include "wav/wav_reader.hpp"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace pev::pack {

inline constexpr std::uint64_t kReadAheadMaxBytes = 1024 * 1024;

class WavReadAhead {
  public:
    // Starts the reading thread; without one (none could be had) start()
    // always declines and the caller reads on its own thread.
    WavReadAhead();
    ~WavReadAhead();
    WavReadAhead(const WavReadAhead&) = delete;
    WavReadAhead& operator=(const WavReadAhead&) = delete;

    // Begins reading `path`, of `size` bytes, unless no thread runs, a read
    // is already in flight or the file is larger than kReadAheadMaxBytes.
    // Returns whether it began.
    bool start(const std::string& path, std::uint64_t size);

    // Waits for the read begun last and hands its result over; rethrows what
    // the read threw (std::bad_alloc).
    wav::WavReadResult take();

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> job_;         // a path waiting to be read
    std::optional<wav::WavReadResult> done_; // its result, until taken
    std::exception_ptr failure_;             // or what its read threw
    bool stopping_ = false;
    std::thread worker_; // last: it starts once everything it uses exists
};

} // namespace pev::pack
