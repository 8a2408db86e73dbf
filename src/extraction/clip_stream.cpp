#include "extraction/clip_stream.hpp"

#include "extraction/shared_decode.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace pev::extraction {
namespace {

using archive::ClipBuffers;

// Below this much archive the whole decoding takes a millisecond or two, too
// little to repay starting a thread.
constexpr std::uint64_t kDecodeAheadMinArchiveBytes = 256 * 1024;

// Blocks a thread decodes between two looks at the shared state: a few
// thousand samples, so that the calling thread can join in at a fine grain.
constexpr std::size_t kBlocksPerStep = 4;

// The buffers only grow, so their capacities are the largest requests.
ExtractStats stats_of(const ClipBuffers& buffers) {
    const std::size_t frame = buffers.samples.capacity();
    const std::size_t samples = frame == 0 ? 0 : frame - wav::Frame::kRoom;
    return {buffers.size_bytes.capacity(), buffers.compressed.capacity(),
            samples * sizeof(std::int16_t)};
}

ExtractStats largest_of(const ExtractStats& a, const ExtractStats& b) {
    return {std::max(a.largest_size_table_bytes, b.largest_size_table_bytes),
            std::max(a.largest_compressed_bytes, b.largest_compressed_bytes),
            std::max(a.largest_sample_buffer_bytes, b.largest_sample_buffer_bytes)};
}

// A decoded clip's WAV file, written when the stream writes ahead.
void write_ahead(const ArchiveReader& reader, const StreamOptions& options, ReadyClip& clip) {
    if (options.write_ahead && clip.info.ok()) {
        clip.file = std::make_unique<WavFileAhead>(options.write_ahead(clip.info.index), clip.frame,
                                                   reader.sample_rate());
    }
}

ReadyClip prepare(const ArchiveReader& reader, std::size_t index, ClipBuffers& buffers,
                  const StreamOptions& options) {
    ReadyClip clip;
    clip.info = reader.inspect(index, buffers);
    if (clip.info.ok()) {
        clip.frame = reader.decode(clip.info, buffers);
        write_ahead(reader, options, clip);
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
        ReadyClip clip = prepare(reader, index, buffers, options);
        if (!consume(clip) || ends_stream(clip, options)) {
            return;
        }
    }
}

// A worker thread reads and decodes clip n into slot n % 2 while the calling
// thread consumes clip n - 1 from the other slot: two clips in flight, so two
// sets of buffers, each as large as the largest clip it held. When the
// calling thread is done first, it decodes the later half of the blocks the
// worker has not begun rather than idle.
//
// The worker takes an unused slot and reads its clip into it. The consumer
// owns the slot once it is `full`, or once its own part and the worker's
// front are done, and frees it when the clip is consumed. The state changes
// only under the mutex.
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
            slot.clip.file.reset(); // a file the consumer did not name is gone now
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                static_cast<SlotState&>(slot) = SlotState{}; // free for the worker
            }
            slot_emptied_.notify_one();
        }
    }

  private:
    struct SlotState {
        bool in_use = false;         // from the worker's start to the consumer's end
        bool decoding = false;       // read; the worker decodes the front
        std::size_t front_end = 0;   // the worker decodes the blocks before this one
        std::size_t front_begun = 0; // the blocks the worker has begun
        bool tail_taken = false;     // the consumer decodes the blocks from front_end on
        bool front_done = false;
        bool full = false;    // the clip is the consumer's
        bool writing = false; // the worker writes its file, having nothing else to do
        bool taken = false;   // the consumer has it: nobody else touches it
    };

    struct Slot : SlotState {
        ClipBuffers buffers;
        ReadyClip clip;
        std::exception_ptr failure; // what reading the clip threw
        SharedDecode decode;
    };

    // Waits for the clip in `slot`, decoding the later half of its blocks
    // that the worker has not begun, when there are enough, and writing its
    // file when the worker did not.
    void await(Slot& slot) {
        std::unique_lock<std::mutex> lock(mutex_);
        slot_changed_.wait(lock, [&slot] { return slot.full || slot.decoding; });
        const std::size_t left = slot.front_end - slot.front_begun;
        if (slot.full || left < 2 * kBlocksPerStep) {
            slot_changed_.wait(lock, [&slot] { return slot.full && !slot.writing; });
        } else {
            const std::size_t tail_first = slot.front_end - left / 2;
            slot.front_end = tail_first;
            slot.tail_taken = true;
            lock.unlock();
            slot.decode.decode_tail(tail_first);
            lock.lock();
            slot_changed_.wait(lock, [&slot] { return slot.front_done; });
            slot.clip.frame = slot.decode.join();
        }
        slot.taken = true;
        lock.unlock();
        if (!slot.clip.file && !slot.failure) {
            write_ahead(reader_, options_, slot.clip);
        }
    }

    // Writes the file of the clip in `slot`, handed over and not yet taken,
    // while the worker would otherwise wait for the consumer to free the
    // next slot: where files take longer to write than their clips to
    // decode, the worker takes on writing too; where decoding takes longer,
    // the consumer is waiting for it and writes itself. `lock` is held on
    // entry and on return, and let go meanwhile.
    void write_pending(std::unique_lock<std::mutex>& lock, Slot& slot) {
        if (!options_.write_ahead || !slot.full || slot.taken || slot.failure || slot.clip.file ||
            !slot.clip.info.ok()) {
            return;
        }
        slot.writing = true;
        lock.unlock();
        try {
            write_ahead(reader_, options_, slot.clip);
        } catch (const std::bad_alloc&) {
            // The consumer tries again, and says so if it cannot either.
        }
        lock.lock();
        slot.writing = false;
        slot_changed_.notify_one();
    }

    void produce() {
        for (std::size_t n = 0; n < indices_.size(); ++n) {
            Slot& slot = slots_[n % slots_.size()];
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (n > 0 && slot.in_use) {
                    write_pending(lock, slots_[(n - 1) % slots_.size()]);
                }
                slot_emptied_.wait(lock, [&] { return stopping_ || !slot.in_use; });
                if (stopping_) {
                    return;
                }
                slot.in_use = true;
            }
            bool last = false;
            try {
                slot.clip = ReadyClip{reader_.inspect(indices_[n], slot.buffers), {}, nullptr};
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
        std::unique_lock<std::mutex> lock(mutex_);
        write_pending(lock, slots_[(indices_.size() - 1) % slots_.size()]);
    }

    void read_and_decode(Slot& slot) {
        const ClipInfo& info = slot.clip.info;
        const std::span<const std::uint8_t> compressed =
            reader_.read_stored_bytes(info, slot.buffers);
        const std::uint64_t bound = info.measure.sample_bound;
        slot.decode = SharedDecode(
            info.block_sizes, compressed,
            wav::Frame(slot.buffers.samples.take(wav::Frame::buffer_size(bound)), bound));
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot.decoding = true;
            slot.front_end = slot.decode.block_count();
        }
        slot_changed_.notify_one();
        std::unique_lock<std::mutex> lock(mutex_);
        while (slot.front_begun < slot.front_end) {
            const std::size_t step_end =
                std::min(slot.front_begun + kBlocksPerStep, slot.front_end);
            slot.front_begun = step_end;
            lock.unlock();
            slot.decode.decode_front(step_end);
            lock.lock();
        }
        slot.front_done = true;
        const bool tail_taken = slot.tail_taken;
        lock.unlock();
        if (tail_taken) {
            // The consumer finishes the clip.
            slot_changed_.notify_one();
            return;
        }
        slot.clip.frame = slot.decode.join();
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

} // namespace pev::extraction
