#include "cli/pev/clip_measurer.hpp"

#include "cli/pev/loudness_support.hpp"

namespace pev::cli::tool {
namespace {

// What may wait or be measured at once: a few clips per thread, and no more
// than 64 MiB of samples (one clip longer than that goes alone).
constexpr std::size_t kJobsPerWorker = 3;
constexpr std::size_t kMostSamplesInFlight = 32 * 1024 * 1024;

} // namespace

ClipMeasurer::ClipMeasurer(unsigned workers, std::uint32_t rate, Each each)
    : rate_(rate), each_(std::move(each)) {
    workers = std::max(workers, 1U);
    threads_.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    } catch (...) {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
        throw;
    }
}

ClipMeasurer::~ClipMeasurer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void ClipMeasurer::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || next_ < jobs_.size(); });
        if (stopping_) {
            return;
        }
        Job& job = *jobs_[next_++];
        lock.unlock();
        try {
            if (job.clip.ok()) {
                job.clip.loudness = measure_loudness(job.samples, rate_);
            }
        } catch (...) {
            job.failure = std::current_exception();
        }
        lock.lock();
        job.measured = true;
        samples_in_flight_ -= job.samples.size();
        job.samples = {};
        changed_.notify_all();
    }
}

void ClipMeasurer::hand_on(bool wait) {
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            if (wait) {
                changed_.wait(lock, [this] { return jobs_.empty() || jobs_.front()->measured; });
                wait = false;
            }
            if (jobs_.empty() || !jobs_.front()->measured) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
            --next_;
        }
        if (job->failure) {
            std::rethrow_exception(job->failure);
        }
        each_(job->clip);
    }
}

void ClipMeasurer::add(const SurveyedClip& clip, std::span<const std::int16_t> samples) {
    hand_on(false);
    for (;;) {
        std::unique_lock lock(mutex_);
        const bool room =
            jobs_.size() < kJobsPerWorker * threads_.size() &&
            (jobs_.empty() || samples_in_flight_ + samples.size() <= kMostSamplesInFlight);
        if (room) {
            break;
        }
        lock.unlock();
        hand_on(true);
    }
    auto job = std::make_unique<Job>();
    job->clip = clip;
    job->samples.assign(samples.begin(), samples.end());
    const std::lock_guard lock(mutex_);
    samples_in_flight_ += job->samples.size();
    jobs_.push_back(std::move(job));
    changed_.notify_all();
}

void ClipMeasurer::finish() {
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (jobs_.empty()) {
                return;
            }
        }
        hand_on(true);
    }
}

} // namespace pev::cli::tool
