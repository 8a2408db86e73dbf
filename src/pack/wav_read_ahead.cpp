#include "pack/wav_read_ahead.hpp"

#include "platform/utf8_path.hpp"

#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

namespace pev::pack {

std::uint64_t file_size_or_max(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path_from_utf8(path), error);
    return error ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(size);
}

WavReadAhead::WavReadAhead(std::span<const std::string> paths) : paths_(paths) {
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

std::optional<wav::WavReadResult> WavReadAhead::take() {
    if (!worker_.joinable()) {
        return std::nullopt;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty(); });
    Read read = std::move(ready_.front());
    ready_.pop_front();
    held_ -= read.bytes;
    lock.unlock();
    changed_.notify_all();
    if (read.failure) {
        std::rethrow_exception(read.failure);
    }
    return std::move(read.result);
}

void WavReadAhead::give_back(std::vector<std::int16_t> samples) {
    const std::uint64_t bytes = samples.capacity() * sizeof(std::int16_t);
    if (!worker_.joinable() || bytes > kReadAheadMaxFileBytes) {
        return;
    }
    // As many as the files read ahead take, about: enough to go round.
    const std::lock_guard<std::mutex> lock(mutex_);
    if (spare_bytes_ + bytes <= kReadAheadBytes) {
        spare_bytes_ += bytes;
        spare_.push_back(std::move(samples));
    }
}

void WavReadAhead::run() {
    wav::WavReadBuffers buffers; // this thread's file bytes, at most 1 MiB
    for (std::size_t index = 0; index < paths_.size(); ++index) {
        const std::uint64_t bytes = file_size_or_max(paths_[index]);
        std::unique_lock<std::mutex> lock(mutex_);
        if (bytes > kReadAheadMaxFileBytes) {
            // Left to the caller.
            ready_.push_back(Read{0, std::nullopt, nullptr});
            changed_.notify_all();
            continue;
        }
        changed_.wait(
            lock, [&] { return stopping_ || ready_.empty() || held_ + bytes <= kReadAheadBytes; });
        if (stopping_) {
            return;
        }
        if (!spare_.empty()) {
            buffers.samples = std::move(spare_.back());
            spare_.pop_back();
            spare_bytes_ -= buffers.samples.capacity() * sizeof(std::int16_t);
        }
        lock.unlock();
        Read read{bytes, std::nullopt, nullptr};
        try {
            read.result = wav::read_wav_file(paths_[index], buffers);
        } catch (...) {
            read.failure = std::current_exception();
        }
        lock.lock();
        held_ += bytes;
        ready_.push_back(std::move(read));
        changed_.notify_all();
    }
}

} // namespace pev::pack
