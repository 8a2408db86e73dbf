#include "clip_player.hpp"

#include "../common/clip_titles.hpp"

#include <algorithm>
#include <utility>

namespace pev::vlc {

ClipPlayer::ClipPlayer(demux_t* demux, const pev_archive* archive, player::ClipList list,
                       std::string base_name, bool one_clip)
    : demux_(demux), list_(std::move(list)), sequence_(archive, list_),
      timeline_(list_.rate, list_.total_samples()), base_name_(std::move(base_name)),
      one_clip_(one_clip), samples_(timeline_.block_samples()) {}

ClipPlayer::~ClipPlayer() {
    if (es_ != nullptr) {
        es_out_Del(demux_->out, es_);
    }
}

bool ClipPlayer::start() {
    es_format_t format;
    es_format_Init(&format, AUDIO_ES, VLC_CODEC_S16L);
    format.audio.i_rate = list_.rate;
    format.audio.i_channels = 1;
    format.audio.i_physical_channels = AOUT_CHAN_CENTER;
    format.audio.i_bitspersample = 16;
    format.audio.i_blockalign = 2;
    format.i_bitrate = list_.rate * 16;
    es_ = es_out_Add(demux_->out, &format);
    es_format_Clean(&format);
    return es_ != nullptr;
}

// Reports the clip that failed and moves to the start of the next one.
void ClipPlayer::skip_failed_clip(pev_status status) {
    const std::size_t failed = sequence_.current_clip();
    const player::ListedClip& clip = list_.clips[failed];
    const std::string title = player::clip_title(base_name_, clip.position());
    msg_Err(demux_, "clip %zu (%s) cannot be read and is skipped: %s", clip.position(),
            title.c_str(), pev_strerror(status));
    (void)sequence_.seek(clip.end());
}

// Fills samples_ with up to `wanted` samples from the sequence, across
// clips; fewer only at the end of the run or of a clip that failed.
std::size_t ClipPlayer::read_block(std::size_t wanted) {
    std::size_t filled = 0;
    while (filled < wanted) {
        std::size_t got = 0;
        const pev_status status = sequence_.read(samples_.data() + filled, wanted - filled, &got);
        filled += got;
        if (status != PEV_OK) {
            skip_failed_clip(status);
            break;
        }
        if (got == 0) {
            break;
        }
    }
    return filled;
}

// One block, as VLC's WAV reader sends one: a twentieth of a second of
// samples from the position, its time stamp that position's time.
int ClipPlayer::demux() {
    if (position_ >= timeline_.samples()) {
        return VLC_DEMUXER_EOF;
    }
    const std::uint64_t start = position_;
    const auto wanted =
        static_cast<std::size_t>(std::min(timeline_.block_samples(), timeline_.samples() - start));
    const std::size_t count = read_block(wanted);
    position_ = sequence_.position();
    if (count == 0) {
        return position_ >= timeline_.samples() ? VLC_DEMUXER_EOF : VLC_DEMUXER_SUCCESS;
    }
    block_t* block = block_Alloc(count * 2);
    if (block == nullptr) {
        return VLC_DEMUXER_EGENERIC;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto sample = static_cast<std::uint16_t>(samples_[i]);
        block->p_buffer[2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
        block->p_buffer[2 * i + 1] = static_cast<std::uint8_t>(sample >> 8);
    }
    block->i_dts = block->i_pts = VLC_TS_0 + timeline_.time_of(start);
    es_out_SetPCR(demux_->out, block->i_pts);
    es_out_Send(demux_->out, es_, block);
    return VLC_DEMUXER_SUCCESS;
}

void ClipPlayer::seek(std::uint64_t sample) {
    position_ = sample;
    (void)sequence_.seek(std::min(sample, timeline_.samples()));
}

// Title, track number and the archive's clip count, for a clip played alone.
int ClipPlayer::describe(vlc_meta_t* meta) const {
    if (!one_clip_ || list_.clips.empty()) {
        return VLC_EGENERIC;
    }
    const std::size_t position = list_.clips.front().position();
    vlc_meta_SetTitle(meta, player::clip_title(base_name_, position).c_str());
    vlc_meta_SetTrackNum(meta, std::to_string(position).c_str());
    vlc_meta_Set(meta, vlc_meta_TrackTotal, std::to_string(list_.archive_clips).c_str());
    return VLC_SUCCESS;
}

int ClipPlayer::control(int query, va_list args) {
    switch (query) {
    case DEMUX_CAN_SEEK:
        *va_arg(args, bool*) = true; // a seekable stream, or the archive in memory
        return VLC_SUCCESS;
    case DEMUX_CAN_PAUSE:
        return vlc_stream_vaControl(demux_->s, STREAM_CAN_PAUSE, args);
    case DEMUX_CAN_CONTROL_PACE:
        return vlc_stream_vaControl(demux_->s, STREAM_CAN_CONTROL_PACE, args);
    case DEMUX_GET_PTS_DELAY:
        return vlc_stream_vaControl(demux_->s, STREAM_GET_PTS_DELAY, args);
    case DEMUX_SET_PAUSE_STATE:
        return vlc_stream_vaControl(demux_->s, STREAM_SET_PAUSE_STATE, args);
    case DEMUX_GET_LENGTH: {
        auto* length = va_arg(args, std::int64_t*);
        const std::optional<std::int64_t> known = timeline_.length();
        if (!known) {
            return VLC_EGENERIC;
        }
        *length = *known;
        return VLC_SUCCESS;
    }
    case DEMUX_GET_TIME:
        *va_arg(args, std::int64_t*) = timeline_.time_of(position_);
        return VLC_SUCCESS;
    case DEMUX_GET_POSITION: {
        auto* fraction = va_arg(args, double*);
        const std::optional<double> known = timeline_.fraction_of(position_);
        if (!known) {
            return VLC_EGENERIC;
        }
        *fraction = *known;
        return VLC_SUCCESS;
    }
    case DEMUX_SET_POSITION: {
        const std::optional<std::uint64_t> sample =
            timeline_.sample_at_fraction(va_arg(args, double));
        if (!sample) {
            return VLC_EGENERIC;
        }
        seek(*sample);
        return VLC_SUCCESS;
    }
    case DEMUX_SET_TIME: {
        const std::optional<std::uint64_t> sample =
            timeline_.sample_at_time(va_arg(args, std::int64_t));
        if (!sample) {
            return VLC_EGENERIC;
        }
        seek(*sample);
        return VLC_SUCCESS;
    }
    case DEMUX_GET_META:
        return describe(va_arg(args, vlc_meta_t*));
    default:
        return VLC_EGENERIC;
    }
}

} // namespace pev::vlc
