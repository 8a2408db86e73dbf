#pragma once
// A bound of its own for a step of a test that could loop or wait: past it
// the run ends at once with a message naming the step, instead of hanging
// until ctest's time limit says only that time ran out.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace pev::test {

class StepBound {
  public:
    StepBound(std::string what, std::chrono::seconds limit)
        : what_(std::move(what)), watcher_([this, limit] { watch(limit); }) {}

    ~StepBound() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        watcher_.join();
    }

    StepBound(const StepBound&) = delete;
    StepBound& operator=(const StepBound&) = delete;

  private:
    void watch(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "FAILED: %s: not done after %lld s (a loop or a hang)\n",
                         what_.c_str(), static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(1);
        }
    }

    std::string what_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watcher_; // last: it starts once the rest is ready
};

} // namespace pev::test
