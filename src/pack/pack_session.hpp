#pragma once
// Packs clips whose number is known only at the end, as a library caller
// adds them one by one: each clip is checked and encoded when it is added,
// and only its stored bytes (about a third of its samples' size) are kept
// until write_to lays the whole archive out, in a file or in memory.
//
// The checks and the archive are those of ArchivePacker.

#include "archive/archive_writer.hpp"
#include "archive/byte_sink.hpp"
#include "codec/block_encoder.hpp"
#include "pack/archive_packer.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pev::pack {

class PackSession {
  public:
    // `like`: the entry ids and unread header bytes to keep; it must hold as
    // many clips as are added. Without it the ids are the positions.
    // `rate`: the rate every clip must have, which an archive of no clips
    // stores too; 0 takes the first clip's.
    explicit PackSession(std::optional<archive::ArchiveTemplate> like = std::nullopt,
                         std::uint32_t rate = 0);

    // Checks and encodes one more clip; a refused clip changes nothing. One
    // clip more than the archive it is like holds is refused here, not when
    // the archive is written.
    Error add_clip(std::span<const std::int16_t> samples, std::uint32_t rate,
                   ClipSummary* summary = nullptr);

    // Keeps one more clip as it is stored elsewhere (see stored_clip.hpp),
    // after the same checks and check_stored_clip; its sizes and bytes are
    // copied.
    Error add_stored_clip(const StoredClip& clip, ClipSummary* summary = nullptr);

    // Writes the archive of every clip added so far to `sink` (empty).
    Error write_to(archive::ByteSink& sink) const;

    std::size_t clips_added() const { return clips_.size(); }
    std::uint64_t stored_samples() const { return stored_samples_; }

  private:
    // Why one more clip at `rate` of `sample_count` samples cannot be added.
    Error check_next(std::uint64_t sample_count, std::uint32_t rate) const;
    // Keeps `clip` and counts it.
    void keep(EncodedEntry clip, std::uint32_t rate, const ClipSummary& stored,
              ClipSummary* summary);

    std::optional<archive::ArchiveTemplate> like_;
    std::vector<EncodedEntry> clips_;
    std::uint32_t rate_ = 0;
    std::uint64_t stored_samples_ = 0;
};

} // namespace pev::pack
