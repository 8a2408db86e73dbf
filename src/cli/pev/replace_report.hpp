#pragma once
// How `pev replace` words its plan: the warnings of lengths and levels, the
// refusal of --strict-length, the --dry-run table, the end of each
// "Replaced:" line and the --json document.

#include "cli/pev/replace_plan.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace pev::cli::tool {

struct ReplaceReportContext {
    std::uint32_t rate = 0;
    LengthLimits limits;
    bool loudness_measured = false; // the plan holds both clips' loudness
    bool matching = false;          // --match-loudness
};

// "a.wav is 3.210 s, 24.0% longer than the clip's 2.590 s (--max-longer
// 10%)", after "clip 0002 (id 11): "; "" when its length is within limits.
std::string length_problem(const PlannedClip& planned, const ReplaceReportContext& context);

// The warnings of one clip's loudness match (none made, or limited), each
// without "pev: warning: ".
std::vector<std::string> match_warnings(const PlannedClip& planned,
                                        const ReplaceReportContext& context);

// "; gain +3.2 dB to -23.1 LUFS" and, with `verbose`, the lengths
// ("; 2.530 s for 2.315 s (+9.3%)"): what ends a "Replaced:" line.
std::string replaced_suffix(const PlannedClip& planned, const ReplaceReportContext& context,
                            bool verbose);

// The --dry-run table, one row per planned clip, with the loudness
// columns where the plan measured them.
void print_plan_table(const std::vector<PlannedClip>& plan, const ReplaceReportContext& context,
                      std::FILE* out);

struct ReplaceSummary {
    std::string archive;
    std::string output;
    bool dry_run = false;
    bool written = false;
    std::size_t clip_count = 0;
    std::optional<std::uint64_t> archive_bytes;
};

// The --json document (without a final line end).
std::string plan_json(const std::vector<PlannedClip>& plan, const ReplaceReportContext& context,
                      const ReplaceSummary& summary);

} // namespace pev::cli::tool
