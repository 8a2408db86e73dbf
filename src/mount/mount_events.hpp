#pragma once
// What a mounted archive has to tell its user after the folder is mounted,
// when nobody waits for an answer but the log. The file system only says
// what happened; the command that mounted it words it.

#include "common/error.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pev::mount {

struct MountEvent {
    enum class Kind {
        refused,             // the file `names[0]` cannot be a clip: `error` says why
        rewritten,           // the archive was rewritten with `names` in it, `archive_bytes` long
        rewrite_failed,      // the archive could not be rewritten (`error`); `names` still wait
        reopen_failed,       // the rewritten archive could not be opened again (`error`)
        lost,                // the mount ended and `names` never reached the archive
        ended,               // serving failed (`error.subject` holds libfuse's words)
        shown_again_removed, // the clip `names[0]` was removed and not written again
        shown_again_emptied, // the clip `names[0]` was emptied and not written again
    };
    Kind kind = Kind::refused;
    std::vector<std::string> names;
    Error error;
    std::uint64_t archive_bytes = 0;
    std::uint64_t retry_seconds = 0; // with rewrite_failed: the next timed try; 0 for none
};

using EventSink = std::function<void(const MountEvent&)>;

} // namespace pev::mount
