#pragma once
// One self-updating line on a terminal while many files are written: clips
// done of the total, megabytes written, time since the start. It appears
// only once the work has lasted a moment, so quick runs print nothing, and
// never on a file or a pipe.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace pev::cli::tool {

class ProgressLine {
  public:
    // Shown on `stream` when `enabled` and `stream` is a terminal.
    ProgressLine(std::FILE* stream, std::size_t total, bool enabled);
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Records one more clip handled and `bytes` more written; redraws the
    // line now and then.
    void advance(std::uint64_t bytes);

    // Takes the line off the screen, so that another line can be printed in
    // its place; the next redraw brings it back.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;

    std::FILE* stream_;
    bool enabled_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::uint64_t bytes_ = 0;
    Clock::time_point start_ = Clock::now();
    Clock::time_point next_draw_;
    int shown_length_ = 0;
};

} // namespace pev::cli::tool
