#pragma once
// Writes WAV files so that no run, failed or interrupted, leaves a truncated
// file under a final name: each file is written to a temporary file in its
// destination folder and renamed into place only once it is complete.

#include <cstdint>
#include <span>
#include <string>

namespace pev::cli::tool {

class SafeWavWriter {
  public:
    // `replace`: an existing file of a final name may be replaced.
    explicit SafeWavWriter(bool replace);

    // Writes `frame` (the WAV header's room, then the samples) as the WAV
    // file `path`. Returns "" when it is in place, else why not; the
    // temporary file is gone either way.
    std::string write(const std::string& path, std::span<std::int16_t> frame,
                      std::uint32_t rate) const;

  private:
    bool replace_;
    std::string temp_suffix_; // one per run, so runs side by side keep apart
};

} // namespace pev::cli::tool
