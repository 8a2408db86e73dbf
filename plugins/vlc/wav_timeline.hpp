#pragma once
// Where VLC's own WAV reader places 16-bit mono samples in time and in its
// stream, so that clips played here behave as their extracted WAV files do
// there: blocks of a twentieth of a second from wherever playing starts,
// times in microseconds rounded down, and seeks that land on the sample whose
// span holds the time, or on the sample a fraction of the data's bytes falls
// in (computed in double precision, as VLC does). Only arithmetic on sample
// counts, with no overflow for any count a run of clips can have.

#include <cstdint>
#include <optional>

namespace pev::vlc {

// VLC's WAV reader refuses PCM at higher rates.
inline constexpr std::uint32_t kMaxRate = 352800;

class WavTimeline {
  public:
    // `rate` is 1 to kMaxRate; `samples` the run's length.
    WavTimeline(std::uint32_t rate, std::uint64_t samples) : rate_(rate), samples_(samples) {}

    std::uint64_t samples() const { return samples_; }
    // Samples read at once: a twentieth of a second, at least one.
    std::uint64_t block_samples() const { return rate_ / 20 != 0 ? rate_ / 20 : 1; }

    // The time of sample `position` (the time played before it), in microseconds.
    std::int64_t time_of(std::uint64_t position) const;
    // The run's length in microseconds; none for an empty run.
    std::optional<std::int64_t> length() const;
    // How far into the run `position` is, 0 to 1; none for an empty run.
    std::optional<double> fraction_of(std::uint64_t position) const;

    // The sample holding time `microseconds`; none before 0. Past the end
    // the position is past the end too, where playing ends.
    std::optional<std::uint64_t> sample_at_time(std::int64_t microseconds) const;
    // The sample a fraction `fraction` of the run's bytes falls in; none
    // outside 0 to 1 (or not a number) and for an empty run.
    std::optional<std::uint64_t> sample_at_fraction(double fraction) const;

  private:
    std::uint32_t rate_;
    std::uint64_t samples_;
};

} // namespace pev::vlc
