#pragma once
// A packing failure: what it concerns (a file name) and why. Front ends put
// their own program name in front ("Wav2pev: NAME: REASON").

#include <string>

namespace pev::pack {

struct PackError {
    std::string subject; // the file the failure concerns
    std::string reason;  // empty when there was no failure

    bool ok() const { return reason.empty(); }
    std::string text() const { return subject + ": " + reason; }
};

} // namespace pev::pack
