#include "pack/encode_ahead.hpp"

#include "platform/utf8_path.hpp"

#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

namespace pev::pack {
namespace {

// The file's size, or the largest there is when it cannot be had (it is then
// left to the caller, whose reading says what is wrong with it).
std::uint64_t file_size_or_max(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path_from_utf8(path), error);
    return error ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(size);
}

} // namespace

void read_and_encode(const std::string& path, EncodeBuffers& own, EncodedFile& file) {
    // The samples are quantised straight from the file's bytes.
    wav::WavReadResult read = wav::read_wav_file(path, own.read, wav::Samples::left_as_bytes);
    file.counts = {};
    file.error = std::move(read.error);
    file.warnings = std::move(read.clip.warnings);
    file.sample_rate = read.clip.sample_rate;
    const std::uint64_t count = read.clip.sample_bytes.size() / 2;
    file.sample_count = count;
    if (file.error.empty()) {
        const std::span<std::uint8_t> clip_levels = own.levels.take(count);
        quantise_le(read.clip.sample_bytes, clip_levels);
        file.counts =
            encode_levels_into(clip_levels, file.block_sizes.take(blocks_for_samples(count)),
                               file.bytes.take(stored_bytes_bound(count)));
    }
}

std::span<const std::int16_t> EncodedFile::sizes() const {
    return {block_sizes.data(), counts.blocks};
}

std::span<const std::uint8_t> EncodedFile::stored() const {
    return {bytes.data(), counts.bytes};
}

EncodeAhead::EncodeAhead(std::span<const std::string> paths, unsigned workers) : paths_(paths) {
    try {
        for (unsigned i = 0; i < workers; ++i) {
            workers_.emplace_back([this] { run(); });
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked: the caller does everything itself.
        stop();
    }
}

EncodeAhead::~EncodeAhead() {
    stop();
}

void EncodeAhead::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    room_changed_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
    workers_.clear();
}

EncodedFile EncodeAhead::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Rather than wait for the next file, the caller reads and encodes one
    // itself while there are any left to take on: one thread fewer to wake.
    while (!done_.contains(next_take_)) {
        if (stopping_ || next_claim_ == paths_.size() || !work_on_next(lock, own_, false)) {
            done_changed_.wait(lock, [this] { return done_.contains(next_take_); });
        }
    }
    auto found = done_.find(next_take_);
    EncodedFile file = std::move(found->second.first);
    held_ -= found->second.second;
    done_.erase(found);
    ++next_take_;
    lock.unlock();
    room_changed_.notify_all();
    if (file.failure) {
        std::rethrow_exception(file.failure);
    }
    return file;
}

void EncodeAhead::give_back(EncodedFile file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    // One per file that may be held at once is enough to go round.
    if (spare_.size() < 2 * workers_.size() + 2) {
        spare_.push_back(std::move(file));
    }
}

void EncodeAhead::run() {
    EncodeBuffers own;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && next_claim_ < paths_.size()) {
        work_on_next(lock, own, true);
    }
}

bool EncodeAhead::work_on_next(std::unique_lock<std::mutex>& lock, EncodeBuffers& own,
                               bool may_wait) {
    const std::size_t index = next_claim_;
    lock.unlock();
    const std::uint64_t size = file_size_or_max(paths_[index]);
    const bool small = size <= kAheadMaxFileBytes;
    lock.lock();
    const auto has_room = [&] {
        return !small || index == next_take_ || held_ + size <= kAheadBytes;
    };
    if (index != next_claim_ || (!may_wait && !has_room())) {
        return false; // another thread took it on meanwhile, or no room for the caller
    }
    ++next_claim_;
    // The file the caller waits for always goes ahead, so the workers never
    // all wait for room while the caller waits for them.
    room_changed_.wait(lock, [&] { return stopping_ || has_room(); });
    EncodedFile file;
    if (!spare_.empty()) {
        file = std::move(spare_.back());
        spare_.pop_back();
    }
    const std::uint64_t held = small ? size : 0;
    held_ += held;
    const bool stopping = stopping_; // nobody takes what is done once stopping
    lock.unlock();
    file.left_to_caller = !small;
    file.failure = nullptr;
    if (small && !stopping) {
        try {
            read_and_encode(paths_[index], own, file);
        } catch (...) {
            file.failure = std::current_exception();
        }
    }
    lock.lock();
    done_.emplace(index, std::make_pair(std::move(file), held));
    done_changed_.notify_all();
    return true;
}

} // namespace pev::pack
