#include "mount/clip_bytes.hpp"

#include "archive/clip_blocks.hpp"
#include "codec/block_decoder.hpp"
#include "common/little_endian.hpp"
#include "wav/frame.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

namespace pev::mount {

// One clip being read: decoding on from the last block decoded, or, after
// a jump, a streaming reader that seeks.
struct ClipBytes::Reader {
    std::shared_ptr<const ArchiveGeneration> archive;
    std::size_t index = 0;
    archive::ClipBuffers buffers;
    archive::ClipInfo clip;
    archive::ScratchBuffer<std::uint8_t> stored;
    archive::ScratchBuffer<std::int16_t> block_room;
    std::span<const std::int16_t> block; // the block decoded last, in block_room
    std::uint64_t block_first = 0;       // its first sample in the clip
    std::size_t next_block = 0;          // the block after it
    std::uint64_t next_byte = 0;         // where that one's stored bytes begin
    std::unique_ptr<archive::ClipReader> seeking;

    std::uint64_t next_sample() const { return block_first + block.size(); }

    // Decodes the next block; `decoded` is false at the clip's end.
    Error decode_next(bool& decoded) {
        decoded = next_block < clip.block_sizes.size();
        if (!decoded) {
            return {};
        }
        const std::int16_t size = clip.block_sizes[next_block];
        std::span<const std::uint8_t> bytes;
        if (size != kSilentBlock) {
            if (Error error = archive::read_block(archive->reader().source(), clip, next_block,
                                                  next_byte, stored, bytes)) {
                return error;
            }
        }
        block_first = next_sample();
        const std::span<std::int16_t> room = block_room.take(kMaxSamplesPerBlock);
        block = room.first(decode_block(size, bytes, room));
        next_byte += static_cast<std::uint16_t>(size);
        ++next_block;
        return {};
    }

    // Copies samples [first, first + out.size()) into `out`; `got` is how
    // many (fewer only at the clip's end).
    Error samples(std::uint64_t first, std::span<std::int16_t> out, std::size_t& got) {
        got = 0;
        if (!seeking && first >= block_first) {
            while (got < out.size()) {
                const std::uint64_t at = first + got;
                if (at < next_sample()) {
                    const auto from = static_cast<std::size_t>(at - block_first);
                    const std::size_t count = std::min(out.size() - got, block.size() - from);
                    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(from), count,
                                out.begin() + static_cast<std::ptrdiff_t>(got));
                    got += count;
                    continue;
                }
                if (at > next_sample()) {
                    break; // a jump ahead: the streaming reader takes it
                }
                bool decoded = false;
                if (Error error = decode_next(decoded); !decoded || error) {
                    return error;
                }
            }
            if (got == out.size()) {
                return {};
            }
        }
        if (!seeking) {
            seeking = std::make_unique<archive::ClipReader>();
            if (Error error = seeking->open(archive->reader(), index)) {
                seeking.reset();
                return error;
            }
        }
        seeking->seek(first + got);
        std::size_t more = 0;
        Error error = seeking->read(out.subspan(got), more);
        got += more;
        return error;
    }
};

ClipBytes::ClipBytes(std::size_t kept) : kept_(kept) {}

ClipBytes::~ClipBytes() = default;

std::unique_ptr<ClipBytes::Reader>
ClipBytes::take(const std::shared_ptr<const ArchiveGeneration>& archive, std::size_t index) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = idle_.begin(); it != idle_.end(); ++it) {
            if ((*it)->archive == archive && (*it)->index == index) {
                std::unique_ptr<Reader> reader = std::move(*it);
                idle_.erase(it);
                return reader;
            }
        }
    }
    auto reader = std::make_unique<Reader>();
    reader->archive = archive;
    reader->index = index;
    reader->clip = archive->reader().inspect(index, reader->buffers);
    return reader;
}

void ClipBytes::give_back(std::unique_ptr<Reader> reader) {
    const std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_front(std::move(reader));
    while (idle_.size() > kept_) {
        idle_.pop_back();
    }
}

void ClipBytes::forget() {
    std::list<std::unique_ptr<Reader>> old;
    const std::lock_guard<std::mutex> lock(mutex_);
    old.swap(idle_);
}

namespace {

// Samples decoded per step: 64 KiB of them, on the stack of the thread.
constexpr std::size_t kStepSamples = 32768;

int errno_of(const Error& error) {
    return error.os ? error.os.value() : EIO;
}

} // namespace

long ClipBytes::read(const std::shared_ptr<const ArchiveGeneration>& archive, std::size_t index,
                     std::uint64_t offset, std::span<std::uint8_t> out) {
    const std::uint64_t size = archive->wav_size(index);
    if (offset >= size || out.empty()) {
        return 0;
    }
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size - offset)));
    std::size_t done = 0;
    if (offset < wav::kHeaderSize) {
        const auto header = wav::make_header(static_cast<std::uint32_t>(size - wav::kHeaderSize), 1,
                                             archive->reader().sample_rate());
        done = std::min<std::size_t>(out.size(), wav::kHeaderSize - offset);
        std::copy_n(header.begin() + static_cast<std::ptrdiff_t>(offset), done, out.begin());
    }
    if (done == out.size()) {
        return static_cast<long>(done);
    }
    std::unique_ptr<Reader> reader;
    try {
        reader = take(archive, index);
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
    if (!reader->clip.ok() || !reader->clip.table_read_whole()) {
        return -EIO;
    }
    // Byte `at` of the file is half of sample (at - 44) / 2: an odd offset
    // starts inside a sample, whose other byte is dropped.
    std::uint64_t at = offset + done;
    std::int16_t samples[kStepSamples];
    for (std::size_t before = SIZE_MAX; done < out.size() && done != before;) {
        before = done; // every step copies something, or the read ends here
        const std::uint64_t first = (at - wav::kHeaderSize) / 2;
        const std::uint64_t last = (at - wav::kHeaderSize + (out.size() - done) - 1) / 2;
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kStepSamples, last - first + 1));
        std::size_t got = 0;
        try {
            if (const Error failure = reader->samples(first, {samples, wanted}, got)) {
                return -errno_of(failure);
            }
        } catch (const std::bad_alloc&) {
            return -ENOMEM;
        }
        if (got == 0) {
            break;
        }
        std::size_t i = 0;
        if ((at - wav::kHeaderSize) % 2 == 1) { // the second byte of a sample
            out[done++] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(samples[0]) >> 8);
            ++at;
            i = 1;
        }
        const std::size_t whole = std::min(got - i, (out.size() - done) / 2);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out.data() + done, samples + i, whole * 2);
        } else {
            for (std::size_t k = 0; k < whole; ++k) {
                store_u16le(out, done + 2 * k, static_cast<std::uint16_t>(samples[i + k]));
            }
        }
        i += whole;
        done += whole * 2;
        at += whole * 2;
        if (i < got && done < out.size()) { // the first byte of the last one
            out[done++] = static_cast<std::uint8_t>(samples[i]);
            ++at;
        }
    }
    give_back(std::move(reader));
    return static_cast<long>(done);
}

} // namespace pev::mount
