#pragma once
// How `pev mount` words what a mounted archive tells its log.

#include "mount/mount_events.hpp"

#include <string>

namespace pev::cli::tool {

struct MountLogLine {
    std::string text;
    bool problem = false; // an error for the log, not news
};

// One line about `event` of the archive at `archive`.
MountLogLine mount_event_text(const mount::MountEvent& event, const std::string& archive);

} // namespace pev::cli::tool
