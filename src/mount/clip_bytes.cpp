#include "mount/clip_bytes.hpp"

#include "common/little_endian.hpp"
#include "wav/frame.hpp"
#include "wav/wav_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <new>

namespace pev::mount {
namespace {

// Samples decoded per step: 64 KiB of them, on the stack of the thread.
constexpr std::size_t kStepSamples = 32768;

} // namespace

ClipBytes::Kept ClipBytes::take(const std::shared_ptr<const ArchiveGeneration>& archive,
                                std::size_t index, int& error) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = idle_.begin(); it != idle_.end(); ++it) {
            if (it->archive == archive && it->index == index) {
                Kept kept = std::move(*it);
                idle_.erase(it);
                return kept;
            }
        }
    }
    Kept kept{archive, index, std::make_unique<archive::ClipReader>()};
    if (const Error failure = kept.reader->open(archive->reader(), index); !failure.ok()) {
        error = failure.os ? failure.os.value() : EIO;
        kept.reader.reset();
    }
    return kept;
}

void ClipBytes::give_back(Kept kept) {
    const std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_front(std::move(kept));
    while (idle_.size() > kept_) {
        idle_.pop_back();
    }
}

void ClipBytes::forget() {
    std::list<Kept> old;
    const std::lock_guard<std::mutex> lock(mutex_);
    old.swap(idle_);
}

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
    int error = 0;
    Kept kept;
    try {
        kept = take(archive, index, error);
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
    if (!kept.reader) {
        return -error;
    }
    // Byte `at` of the file is half of sample (at - 44) / 2: an odd offset
    // starts inside a sample, whose other byte is dropped.
    std::uint64_t at = offset + done;
    std::int16_t samples[kStepSamples];
    kept.reader->seek((at - wav::kHeaderSize) / 2);
    while (done < out.size()) {
        const std::uint64_t first = (at - wav::kHeaderSize) / 2;
        const std::uint64_t last = (at - wav::kHeaderSize + (out.size() - done) - 1) / 2;
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kStepSamples, last - first + 1));
        std::size_t got = 0;
        if (const Error failure = kept.reader->read({samples, wanted}, got); !failure.ok()) {
            return -(failure.os ? failure.os.value() : EIO);
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
        for (; i < got && done + 2 <= out.size(); ++i, done += 2, at += 2) {
            store_u16le(out, done, static_cast<std::uint16_t>(samples[i]));
        }
        if (i < got && done < out.size()) { // the first byte of the last one
            out[done++] = static_cast<std::uint8_t>(samples[i]);
            ++at;
        }
    }
    give_back(std::move(kept));
    return static_cast<long>(done);
}

} // namespace pev::mount
