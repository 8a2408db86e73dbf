#pragma once
// A run of clips played as one audio stream: 16-bit mono at the archive's
// rate, in blocks, times and seeks placed as VLC's own WAV reader places
// them on the same samples (WavTimeline). One clip (pev-clip=N), or all
// clips that can be decoded one after another where the archive cannot be
// listed as a playlist. A clip that fails while it plays is reported and
// the run goes on with the next.

#include "../common/clip_list.hpp"
#include "../common/clip_sequence.hpp"
#include "demux_role.hpp"
#include "wav_timeline.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace pev::vlc {

class ClipPlayer : public DemuxRole {
  public:
    // `archive` must outlive the player. `one_clip` says whether the run is
    // a single clip chosen by the user, whose title and track number the
    // player then gives as its metadata.
    ClipPlayer(demux_t* demux, const pev_archive* archive, player::ClipList list,
               std::string base_name, bool one_clip);
    ~ClipPlayer() override;
    ClipPlayer(const ClipPlayer&) = delete;
    ClipPlayer& operator=(const ClipPlayer&) = delete;

    // Declares the audio stream to VLC; false when VLC refuses it.
    bool start();
    int demux() override;
    int control(int query, va_list args) override;

  private:
    std::size_t read_block(std::size_t wanted);
    void skip_failed_clip(pev_status status);
    void seek(std::uint64_t sample);
    int describe(vlc_meta_t* meta) const;

    demux_t* demux_;
    player::ClipList list_; // (before sequence_, which refers to it)
    player::ClipSequence sequence_;
    WavTimeline timeline_;
    std::string base_name_;
    bool one_clip_;
    std::uint64_t position_ = 0; // of the next block; past the end after a seek there
    std::vector<std::int16_t> samples_;
    es_out_id_t* es_ = nullptr;
};

} // namespace pev::vlc
