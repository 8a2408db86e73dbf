#pragma once
// Measures the loudness of clips on worker threads, one clip per thread at
// a time, and hands them back in the order they came: measuring a clip
// takes some twenty times as long as decoding it, so list --loudness keeps
// every CPU measuring while one thread decodes ahead. Each clip's figures
// are those one thread gives; only the time differs.

#include "cli/pev/clip_survey.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace pev::cli::tool {

class ClipMeasurer {
  public:
    using Each = std::function<void(const SurveyedClip&)>;

    // `workers` threads (at least 1) measuring clips at `rate`; `each` gets
    // every clip, in order, on the thread that calls add() and finish().
    ClipMeasurer(unsigned workers, std::uint32_t rate, Each each);
    ~ClipMeasurer();
    ClipMeasurer(const ClipMeasurer&) = delete;
    ClipMeasurer& operator=(const ClipMeasurer&) = delete;

    // Takes `clip` and a copy of its samples (none for a refused clip) to
    // be measured, after handing on the clips already done. Waits while too
    // much is in flight. Rethrows what measuring threw (std::bad_alloc).
    void add(const SurveyedClip& clip, std::span<const std::int16_t> samples);

    // Hands on every clip left, once measured.
    void finish();

  private:
    struct Job {
        SurveyedClip clip;
        std::vector<std::int16_t> samples;
        bool measured = false;
        std::exception_ptr failure;
    };

    void work();
    // Hands on the finished jobs at the front; with `wait`, waits for the
    // front one first.
    void hand_on(bool wait);

    std::uint32_t rate_;
    Each each_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Job>> jobs_; // in order; measured ones stay until handed on
    std::size_t next_ = 0;                  // the first job no worker has taken
    std::size_t samples_in_flight_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace pev::cli::tool
