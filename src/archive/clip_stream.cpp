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

// A sound clip's blocks in two runs, so that two threads can decode one
// clip: the first run into the start of the frame's samples, the second at
// the most samples the first can yield, moved down behind the first's real
// end once both are done. Every delta block starts from level 0, so the runs
// do not depend on each other.
class ClipHalves {
  public:
    ClipHalves() = default;
    ClipHalves(const ClipInfo& info, std::span<const std::uint8_t> compressed,
               std::span<std::int16_t> frame)
        : sizes_(info.block_sizes), compressed_(compressed),
          samples_(frame.subspan(wav::kHeaderRoomSamples)), frame_(frame) {
        // Split where the first run reaches half the samples.
        std::uint64_t bound = 0;
        while (first_blocks_ < sizes_.size() && 2 * bound < info.measure.sample_bound) {
            const std::int16_t size = sizes_[first_blocks_++];
            bound += measure_entry(std::span(&size, 1)).sample_bound;
            first_bytes_ += static_cast<std::uint64_t>(size);
        }
        first_bound_ = static_cast<std::size_t>(bound);
    }

    // The first run may read the second's first byte: an escape begun in
    // its last nibble takes its code from there.
    std::size_t decode_first() const {
        return decode_entry(sizes_.first(first_blocks_), compressed_, samples_.first(first_bound_));
    }

    // Decodes the second run `at` samples into the clip.
    std::size_t decode_second(std::size_t at) const {
        return decode_entry(sizes_.subspan(first_blocks_), compressed_.subspan(first_bytes_),
                            samples_.subspan(at, samples_.size() - first_bound_));
    }

    // The frame of the whole clip, the second run moved behind the first
    // when it was decoded elsewhere.
    std::span<std::int16_t> join(std::size_t first_count, std::size_t second_at,
                                 std::size_t second_count) const {
        if (second_at != first_count) {
            const auto second = samples_.subspan(second_at, second_count);
            std::copy(second.begin(), second.end(), samples_.begin() + first_count);
        }
        return frame_.first(wav::kHeaderRoomSamples + first_count + second_count);
    }

    std::size_t first_bound() const { return first_bound_; }

  private:
    std::span<const std::int16_t> sizes_;
    std::span<const std::uint8_t> compressed_;
    std::span<std::int16_t> samples_;
    std::span<std::int16_t> frame_;
    std::size_t first_blocks_ = 0;
    std::uint64_t first_bytes_ = 0;
    std::size_t first_bound_ = 0;
};

// A worker thread reads and decodes clip n into slot n % 2 while the calling
// thread consumes clip n - 1 from the other slot: two clips in flight, so two
// sets of buffers, each as large as the largest clip it held. When the
// calling thread is done before the worker, it decodes the second half of
// the clip it waits for itself rather than idle.
//
// The worker takes an unused slot and reads its clip into it; the clip's
// second half then goes to whichever thread asks first. The consumer owns
// the slot once it is `full`, or once the half it decoded itself and the
// worker's first half are done, and frees it when the clip is consumed. The
// flags change only under the mutex.
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
            await(slot);
            if (slot.failure) {
                std::rethrow_exception(slot.failure);
            }
            if (!consume(slot.clip) || ends_stream(slot.clip, options_)) {
                return;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                static_cast<SlotFlags&>(slot) = SlotFlags{}; // free for the worker
            }
            slot_emptied_.notify_one();
        }
    }

  private:
    struct SlotFlags {
        bool in_use = false;       // from the worker's start to the consumer's end
        bool second_open = false;  // read; the second half may be taken
        bool second_taken = false; // a thread decodes the second half
        bool first_done = false;   // first_count holds
        bool full = false;         // the clip is the consumer's
    };

    struct Slot : SlotFlags {
        ClipBuffers buffers;
        ReadyClip clip;
        std::exception_ptr failure; // what reading the clip threw
        ClipHalves halves;
        std::size_t first_count = 0;
    };

    // Waits for the clip in `slot`, decoding its second half if the worker
    // has not begun it.
    void await(Slot& slot) {
        std::unique_lock<std::mutex> lock(mutex_);
        slot_changed_.wait(lock, [&slot] { return slot.full || slot.second_open; });
        if (slot.full || slot.second_taken) {
            slot_changed_.wait(lock, [&slot] { return slot.full; });
            return;
        }
        slot.second_taken = true;
        lock.unlock();
        const std::size_t at = slot.halves.first_bound();
        const std::size_t second_count = slot.halves.decode_second(at);
        lock.lock();
        slot_changed_.wait(lock, [&slot] { return slot.first_done; });
        slot.clip.frame = slot.halves.join(slot.first_count, at, second_count);
    }

    void produce() {
        for (std::size_t n = 0; n < indices_.size(); ++n) {
            Slot& slot = slots_[n % slots_.size()];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                slot_emptied_.wait(lock, [&] { return stopping_ || !slot.in_use; });
                if (stopping_) {
                    return;
                }
                slot.in_use = true;
            }
            bool last = false;
            try {
                slot.clip = ReadyClip{reader_.inspect(indices_[n], slot.buffers), {}};
                last = ends_stream(slot.clip, options_);
                if (slot.clip.info.ok()) {
                    read_and_decode(slot);
                    continue;
                }
            } catch (...) {
                // Handed over in the clip's place, so it ends the run where
                // it would have on one thread.
                slot.failure = std::current_exception();
                last = true;
            }
            hand_over(slot);
            if (last) {
                return;
            }
        }
    }

    void read_and_decode(Slot& slot) {
        const ClipInfo& info = slot.clip.info;
        const std::span<const std::uint8_t> compressed =
            reader_.read_stored_bytes(info, slot.buffers);
        const std::span<std::int16_t> frame =
            slot.buffers.samples.take(wav::kHeaderRoomSamples + info.measure.sample_bound);
        slot.halves = ClipHalves(info, compressed, frame);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.second_open = true;
        }
        slot_changed_.notify_one();
        const std::size_t first_count = slot.halves.decode_first();
        bool second_is_mine = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.first_count = first_count;
            slot.first_done = true;
            second_is_mine = !slot.second_taken;
            slot.second_taken = true;
        }
        if (!second_is_mine) {
            slot_changed_.notify_one();
            return;
        }
        // Decoded straight behind the first half: nothing to move.
        const std::size_t second_count = slot.halves.decode_second(first_count);
        slot.clip.frame = slot.halves.join(first_count, first_count, second_count);
        hand_over(slot);
    }

    void hand_over(Slot& slot) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.full = true;
        }
        slot_changed_.notify_one();
    }

    const ArchiveReader& reader_;
    std::span<const std::size_t> indices_;
    const StreamOptions& options_;
    ExtractStats* stats_;
    std::array<Slot, 2> slots_;
    std::mutex mutex_;
    std::condition_variable slot_changed_; // the consumer waits on this
    std::condition_variable slot_emptied_; // the worker waits on this
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
