#include "pack/wav_read_ahead.hpp"

#include <system_error>
#include <utility>

namespace pev::pack {

WavReadAhead::WavReadAhead() {
    try {
        worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No second thread: every file is read by the caller.
    }
}

WavReadAhead::~WavReadAhead() {
    if (worker_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
}

bool WavReadAhead::start(const std::string& path, std::uint64_t size) {
    if (!worker_.joinable() || size > kReadAheadMaxBytes) {
        return false;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (job_ || done_ || failure_) {
            return false;
        }
        job_ = path;
    }
    changed_.notify_all();
    return true;
}

wav::WavReadResult WavReadAhead::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return done_.has_value() || failure_ != nullptr; });
    if (failure_) {
        std::exception_ptr failure = std::exchange(failure_, nullptr);
        std::rethrow_exception(failure);
    }
    wav::WavReadResult result = std::move(*done_);
    done_.reset();
    return result;
}

void WavReadAhead::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || job_.has_value(); });
        if (stopping_) {
            return;
        }
        const std::string path = *job_;
        lock.unlock();
        std::optional<wav::WavReadResult> result;
        std::exception_ptr failure;
        try {
            result = wav::read_wav_file(path);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        job_.reset();
        done_ = std::move(result);
        failure_ = failure;
        changed_.notify_all();
    }
}

} // namespace pev::pack
