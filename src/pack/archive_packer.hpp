#pragma once
// Packs clips of 16-bit samples into one archive, written to a byte sink as
// they come: the number of clips is known before the first, so each clip is
// checked, encoded and written when it is added, and only one is ever held
// in memory: the buffers it is encoded in are kept for the next, so they are
// as large as the largest clip so far.
//
// All clips share the first clip's sample rate and fit in 65535 blocks of
// 1024 samples. Errors concern the clip or the archive and have no subject:
// the caller knows which file it is.

#include "archive/archive_writer.hpp"
#include "archive/byte_sink.hpp"
#include "archive/scratch_buffer.hpp"
#include "codec/block_encoder.hpp"
#include "common/error.hpp"
#include "pack/stored_clip.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pev::pack {

inline constexpr std::uint64_t kMaxBlocksPerClip = 0xFFFF;

// How one clip was stored.
struct ClipSummary {
    std::uint64_t input_samples = 0;  // as given
    std::uint64_t stored_samples = 0; // as the unpacker gives them back
    std::size_t blocks = 0;
    std::size_t silent_blocks = 0;
    std::size_t raw_blocks = 0;
    std::size_t delta_blocks = 0;
    std::uint64_t stored_bytes = 0; // its block-size table and compressed bytes
    bool padded = false;            // one sample repeats the last (odd length)
};

// How `entry`, encoded from `input_samples` samples, was stored.
ClipSummary summarise(const EncodedEntry& entry, std::uint64_t input_samples);
ClipSummary summarise(const EncodedCounts& counts, std::uint64_t input_samples);
// How a copied clip is stored: as it was, its blocks counted from their sizes,
// its samples 0 unless they were counted.
ClipSummary summarise(const StoredClip& clip, std::size_t covered_bytes);

// Why a clip of `sample_count` samples at `rate` cannot join an archive whose
// clips so far are at `archive_rate` (0 before the first); ok() when it can.
Error check_clip(std::uint64_t sample_count, std::uint32_t rate, std::uint32_t archive_rate);

struct LayoutResult {
    archive::ArchiveTemplate layout;
    Error error; // like_count_mismatch, when `like` does not fit
};

// The entry ids and kept header bytes of an archive of `clip_count` clips:
// those of `like` when given, which must hold as many clips; otherwise the
// positions 0, 1, ... and zeros.
LayoutResult layout_for(std::size_t clip_count, const archive::ArchiveTemplate* like);

class ArchivePacker {
  public:
    // `sink` is empty; one clip is to come for each of `layout.entry_ids`.
    ArchivePacker(archive::ByteSink& sink, archive::ArchiveTemplate layout);

    // Checks, encodes and writes the next clip. A clip the checks refuse
    // changes nothing.
    Error add_clip(std::span<const std::int16_t> samples, std::uint32_t rate,
                   ClipSummary* summary = nullptr);

    // Writes the next clip, encoded elsewhere from `sample_count` samples at
    // `rate` (see encode_levels_into), after the same checks.
    Error add_encoded_clip(std::span<const std::int16_t> block_sizes,
                           std::span<const std::uint8_t> bytes, const EncodedCounts& counts,
                           std::uint64_t sample_count, std::uint32_t rate,
                           ClipSummary* summary = nullptr);

    // Writes the next clip as it is stored elsewhere (see stored_clip.hpp),
    // after the same checks and check_stored_clip.
    Error add_stored_clip(const StoredClip& clip, ClipSummary* summary = nullptr);

    // Completes the archive once every clip was added.
    Error finish();

    std::size_t clips_added() const { return added_; }
    std::uint64_t stored_samples() const { return stored_samples_; }
    std::uint64_t size() const { return writer_.size(); }
    // The rate of the clips added so far; 0 before the first.
    std::uint32_t rate() const { return rate_; }

  private:
    // Writes the next entry and counts it.
    Error write_entry(std::span<const std::int16_t> block_sizes,
                      std::span<const std::uint8_t> bytes, const ClipSummary& stored,
                      std::uint32_t rate, ClipSummary* summary);

    archive::ArchiveTemplate layout_;
    archive::ArchiveWriter writer_;
    archive::ScratchBuffer<std::uint8_t> levels_;
    archive::ScratchBuffer<std::int16_t> block_sizes_;
    archive::ScratchBuffer<std::uint8_t> bytes_;
    std::size_t added_ = 0;
    std::uint32_t rate_ = 0;
    std::uint64_t stored_samples_ = 0;
};

} // namespace pev::pack
