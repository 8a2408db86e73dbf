#pragma once
// A decoded clip in the buffer its WAV file is made in: room for the 44-byte
// header first, then the samples. The header is filled in place once the
// samples are known, so the whole file goes to the system in one write,
// without a copy. Every piece of code that reads, decodes or writes a clip
// passes a Frame, and only this type knows how large the room is.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pev::wav {

inline constexpr std::size_t kHeaderSize = 44;

class Frame {
  public:
    // Samples of room the header takes.
    static constexpr std::size_t kRoom = kHeaderSize / sizeof(std::int16_t);

    // The buffer, in samples, a frame of up to `samples` samples needs.
    static constexpr std::uint64_t buffer_size(std::uint64_t samples) { return kRoom + samples; }

    // The size of the WAV file of a clip of `samples` samples.
    static constexpr std::uint64_t file_size_for(std::uint64_t samples) {
        return buffer_size(samples) * sizeof(std::int16_t);
    }

    // No clip.
    Frame() = default;

    // The first `samples` samples behind the room at the start of `buffer`,
    // which holds at least buffer_size(samples).
    Frame(std::span<std::int16_t> buffer, std::size_t samples)
        : whole_(buffer.first(kRoom + samples)) {}

    bool empty() const { return whole_.empty(); }
    std::span<std::int16_t> samples() const { return empty() ? whole_ : whole_.subspan(kRoom); }
    std::size_t sample_count() const { return empty() ? 0 : whole_.size() - kRoom; }
    // The size of its WAV file: the header and the samples.
    std::uint64_t file_size() const { return whole_.size_bytes(); }
    // The room and the samples, for the writer that fills the room in.
    std::span<std::int16_t> whole() const { return whole_; }

  private:
    std::span<std::int16_t> whole_;
};

} // namespace pev::wav
