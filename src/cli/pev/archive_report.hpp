#pragma once
// The JSON document `pev list --json` and `pev test --json` print for an
// archive: its header's figures, totals and one object per chosen clip.

#include "cli/pev/clip_survey.hpp"
#include "cli/pev/command.hpp"
#include "cli/pev/named_archive.hpp"

#include <optional>
#include <string>
#include <vector>

namespace pev::cli::tool {

// The file extract gives the clip by default (BASE_NNNN.wav).
std::string default_file_of(const NamedArchive& archive, const SurveyedClip& clip);

// The size of the clip's WAV file.
std::uint64_t wav_bytes_of(const SurveyedClip& clip);

struct ArchiveReport {
    std::string json;        // the document, without a final line end
    std::size_t refused = 0; // chosen clips that cannot be extracted
};

// With `measured`, each clip's loudness and the archive's spread too.
ArchiveReport archive_report(const NamedArchive& archive, const std::vector<std::size_t>& indices,
                             bool measured = false);

// Prints the document of each archive: one alone, or with several a JSON
// array of them, the archives that cannot be read left out (and named on
// standard error). The status is the worst of them; with
// `refused_clips_fail`, an archive with a clip that cannot be extracted
// counts as failed.
int print_reports(const std::vector<std::string>& archives, const std::optional<std::string>& clips,
                  const std::optional<std::string>& ids, bool refused_clips_fail, const Streams& io,
                  bool measured = false);

} // namespace pev::cli::tool
