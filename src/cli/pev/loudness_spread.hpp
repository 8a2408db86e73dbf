#pragma once
// The spread of an archive's loudness, for list --loudness: its quietest
// and loudest clip by integrated loudness, and how many sound clips have
// none (too short or too quiet for the gate).

#include "cli/pev/clip_survey.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace pev::cli::tool {

struct MeasuredClip {
    std::size_t index = 0;
    std::uint16_t id = 0;
    double lufs = 0.0;
};

class LoudnessSpread {
  public:
    void add(const SurveyedClip& clip);

    const std::optional<MeasuredClip>& quietest() const { return quietest_; }
    const std::optional<MeasuredClip>& loudest() const { return loudest_; }
    std::size_t unmeasured() const { return unmeasured_; }

    // "Loudness: quietest clip 0012 (id 40) at -31.2 LUFS, loudest clip 0003
    // (id 9) at -18.5 LUFS, 12.7 LU apart; 4 clips too short or quiet to
    // measure".
    std::string text() const;

  private:
    std::optional<MeasuredClip> quietest_;
    std::optional<MeasuredClip> loudest_;
    std::size_t unmeasured_ = 0;
};

} // namespace pev::cli::tool
