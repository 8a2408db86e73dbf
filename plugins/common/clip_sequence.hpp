#pragma once
// The listed clips read as one run of samples, with seeking anywhere in it:
// what a player that shows the whole archive as one stream plays. A clip's
// reader is opened when the run enters the clip, which scans where its
// blocks begin (in proportion to the clip); a seek then decodes at most one
// block. The readers of the last four clips used stay open (about one
// block's memory each, under 200 KiB), so going back to a clip just played
// costs no second scan.

#include "clip_list.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace pev::player {

class ClipSequence {
  public:
    // Both must outlive the sequence. It starts at sample 0.
    ClipSequence(const pev_archive* archive, const ClipList& list);
    ~ClipSequence();
    ClipSequence(const ClipSequence&) = delete;
    ClipSequence& operator=(const ClipSequence&) = delete;

    // Moves to `sample` of the run (0 to its length). PEV_ERR_INVALID_ARGUMENT
    // past the end, the position unchanged.
    pev_status seek(std::uint64_t sample);

    // Copies up to `max` samples into `samples`, never past the end of the
    // clip being read, so a caller sees every change of clip: *got is 0 only
    // at the end of the run. A clip's reader failing to open gives its
    // status (PEV_ERR_IO when a read fails) and the position stays.
    pev_status read(std::int16_t* samples, std::size_t max, std::size_t* got);

    std::uint64_t position() const { return position_; }
    // The listed clip the next sample comes from (list.clips.size() at the end).
    std::size_t current_clip() const { return list_.clip_holding(position_); }

  private:
    pev_status enter(std::size_t clip);

    struct OpenReader {
        std::size_t clip = 0;
        pev_reader* reader = nullptr;
        std::uint64_t last_use = 0;
    };

    const pev_archive* archive_;
    const ClipList& list_;
    std::uint64_t position_ = 0;
    std::array<OpenReader, 4> readers_{};
    std::uint64_t uses_ = 0;
    pev_reader* reader_ = nullptr; // the current clip's, one of readers_
};

} // namespace pev::player
