#pragma once
// The integrated loudness ffmpeg's ebur128 filter gives a file: the
// reference the loudness tests hold pev's meter to. ffmpeg resamples to
// 48 kHz first and has its own filter and gate, so the two are independent.

#include "support/process.hpp"

#include <cstdlib>
#include <optional>
#include <string>

namespace pev::test {

inline bool have_ffmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

// The last integrated loudness the filter reports for `file`, to a
// thousandth of a LU; none when ffmpeg cannot read it.
inline std::optional<double> ffmpeg_integrated(const std::string& file) {
    const ProcessResult result =
        run_process("/bin/sh",
                    {"-c",
                     "ffmpeg -hide_banner -nostats -nostdin -i \"$0\" -af "
                     "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=- -f null - "
                     "2>/dev/null | tail -n 1",
                     file},
                    ".");
    const std::size_t equals = result.out.find('=');
    if (result.status != 0 || equals == std::string::npos) {
        return std::nullopt;
    }
    return std::strtod(result.out.c_str() + equals + 1, nullptr);
}

} // namespace pev::test
