#include "archive/clip_stream.hpp"

#include "wav/wav_writer.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace pev::archive {
namespace {

// Below this much archive the whole decoding takes a millisecond or two, too
// little to repay starting a thread.
constexpr std::uint64_t kDecodeAheadMinArchiveBytes = 256 * 1024;

// The buffers only grow, so their capacities are the largest requests.
ExtractStats stats_of(const ClipBuffers& buffers) {
    const std::size_t samples = buffers.samples.capacity();
    const std::size_t room = samples == 0 ? 0 : wav::kHeaderRoomSamples;
    return {buffers.size_bytes.capacity(), buffers.compressed.capacity(),
            (samples - room) * sizeof(std::int16_t)};
}

ExtractStats largest_of(const ExtractStats& a, const ExtractStats& b) {
    return {std::max(a.largest_size_table_bytes, b.largest_size_table_bytes),
            std::max(a.largest_compressed_bytes, b.largest_compressed_bytes),
            std::max(a.largest_sample_buffer_bytes, b.largest_sample_buffer_bytes)};
}

ReadyClip prepare(const ArchiveReader& reader, std::size_t index, ClipBuffers& buffers) {
    ReadyClip clip;
    clip.info = reader.inspect(index, buffers);
    if (clip.info.ok()) {
        clip.frame = reader.decode(clip.info, buffers);
    }
    return clip;
}

bool ends_stream(const ReadyClip& clip, const StreamOptions& options) {
    return !clip.info.ok() && options.stop_at_refusal;
}

bool worth_decoding_ahead(const ArchiveReader& reader, std::span<const std::size_t> indices,
                          const StreamOptions& options) {
    if (options.threads == 1 || indices.size() < 2) {
        return false;
    }
    return options.threads >= 2 || (std::thread::hardware_concurrency() > 1 &&
                                    reader.archive_size() >= kDecodeAheadMinArchiveBytes);
}

void stream_on_this_thread(const ArchiveReader& reader, std::span<const std::size_t> indices,
                           const StreamOptions& options,
                           const std::function<bool(ReadyClip& clip)>& consume,
                           ExtractStats* stats) {
    ClipBuffers buffers;
    // Filled however the stream ends, a failed allocation included: they
    // show that a refused clip took no buffer.
    struct StatsOnExit {
        const ClipBuffers& buffers;
        ExtractStats* stats;
        ~StatsOnExit() {
            if (stats != nullptr) {
                *stats = stats_of(buffers);
            }
        }
    } on_exit{buffers, stats};

    for (const std::size_t index : indices) {
        ReadyClip clip = prepare(reader, index, buffers);
        if (!consume(clip) || ends_stream(clip, options)) {
            return;
        }
    }
}

// A worker thread reads and decodes clip n into slot n % 2 while the calling
// thread consumes clip n - 1 from the other slot: two clips in flight, so two
// sets of buffers, each as large as the largest clip it held. A slot belongs
// to the worker while it is empty and to the consumer while it is full; the
// flag changes hands under the mutex.
class DecodeAhead {
  public:
    DecodeAhead(const ArchiveReader& reader, std::span<const std::size_t> indices,
                const StreamOptions& options, ExtractStats* stats)
        : reader_(reader), indices_(indices), options_(options), stats_(stats) {}

    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // Stops the worker at its next clip, however the consumer ended.
    ~DecodeAhead() {
        if (worker_.joinable()) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                stopping_ = true;
            }
            slot_emptied_.notify_one();
            worker_.join();
        }
        if (stats_ != nullptr) {
            *stats_ = largest_of(stats_of(slots_[0].buffers), stats_of(slots_[1].buffers));
        }
    }

    // False when no thread could be had; nothing has been read then.
    bool start() {
        try {
            worker_ = std::thread([this] { produce(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    void consume_all(const std::function<bool(ReadyClip& clip)>& consume) {
        for (std::size_t n = 0; n < indices_.size(); ++n) {
            Slot& slot = slots_[n % slots_.size()];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                slot_filled_.wait(lock, [&slot] { return slot.full; });
            }
            if (slot.failure) {
                std::rethrow_exception(slot.failure);
            }
            if (!consume(slot.clip) || ends_stream(slot.clip, options_)) {
                return;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                slot.full = false;
            }
            slot_emptied_.notify_one();
        }
    }

  private:
    struct Slot {
        ClipBuffers buffers;
        ReadyClip clip;
        std::exception_ptr failure; // what preparing the clip threw
        bool full = false;
    };

    void produce() {
        for (std::size_t n = 0; n < indices_.size(); ++n) {
            Slot& slot = slots_[n % slots_.size()];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                slot_emptied_.wait(lock, [&] { return stopping_ || !slot.full; });
                if (stopping_) {
                    return;
                }
            }
            bool last = false;
            try {
                slot.clip = prepare(reader_, indices_[n], slot.buffers);
                last = ends_stream(slot.clip, options_);
            } catch (...) {
                // Handed over in the clip's place, so it ends the run where
                // it would have on one thread.
                slot.failure = std::current_exception();
                last = true;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                slot.full = true;
            }
            slot_filled_.notify_one();
            if (last) {
                return;
            }
        }
    }

    const ArchiveReader& reader_;
    std::span<const std::size_t> indices_;
    const StreamOptions& options_;
    ExtractStats* stats_;
    std::array<Slot, 2> slots_;
    std::mutex mutex_;
    std::condition_variable slot_filled_;
    std::condition_variable slot_emptied_;
    bool stopping_ = false;
    std::thread worker_; // last: it starts after everything it uses exists
};

} // namespace

void stream_clips(const ArchiveReader& reader, std::span<const std::size_t> indices,
                  const StreamOptions& options, const std::function<bool(ReadyClip& clip)>& consume,
                  ExtractStats* stats) {
    if (worth_decoding_ahead(reader, indices, options)) {
        DecodeAhead pipeline(reader, indices, options, stats);
        if (pipeline.start()) {
            pipeline.consume_all(consume);
            return;
        }
    }
    stream_on_this_thread(reader, indices, options, consume, stats);
}

} // namespace pev::archive
