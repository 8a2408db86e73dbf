#include "cli/pev/mount_messages.hpp"

#include "cli/pev/messages.hpp"

namespace pev::cli::tool {
namespace {

// "a.wav, b.wav and 3 more": a batch of 50 saves makes no 50-name line.
std::string names_text(const std::vector<std::string>& names) {
    constexpr std::size_t kShown = 5;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > kShown) {
        text += " and " + std::to_string(names.size() - kShown) + " more";
    }
    return text;
}

std::string clips_text(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " clip" : " clips");
}

// "1 clip waits", "2 clips wait": the verb agrees with the count.
std::string clips_text(std::size_t count, const char* one, const char* more) {
    return clips_text(count) + " " + (count == 1 ? one : more);
}

} // namespace

MountLogLine mount_event_text(const mount::MountEvent& event, const std::string& archive) {
    using Kind = mount::MountEvent::Kind;
    switch (event.kind) {
    case Kind::refused:
        return {replacement_refusal_text(event.error) + "; the clip is as it was", true};
    case Kind::rewritten:
        return {archive + ": rewritten with " + clips_text(event.names.size()) + " replaced (" +
                    names_text(event.names) + "), " + std::to_string(event.archive_bytes) +
                    " bytes",
                false};
    case Kind::rewrite_failed:
        return {replacement_refusal_text(event.error) + "; " + archive + " is as it was, and " +
                    clips_text(event.names.size(), "waits", "wait") + " (" +
                    names_text(event.names) + ")" +
                    (event.retry_seconds != 0
                         ? ", tried again in " + std::to_string(event.retry_seconds) +
                               " s, at sync or at unmount"
                         : ""),
                true};
    case Kind::reopen_failed:
        return {archive + " was rewritten but cannot be read again (" +
                    replacement_refusal_text(event.error) + "); unmount and mount it again",
                true};
    case Kind::lost:
        return {clips_text(event.names.size()) + " saved in the folder never reached " + archive +
                    (event.names.size() == 1 ? " and is lost: " : " and are lost: ") +
                    names_text(event.names),
                true};
    case Kind::ended:
        return {"serving " + archive + " failed: " + event.error.subject, true};
    case Kind::shown_again_removed:
        return {names_text(event.names) +
                    " was removed and not written again; an archive keeps its clips, so it "
                    "shows again as it was",
                false};
    case Kind::shown_again_emptied:
        return {names_text(event.names) +
                    " was emptied and not written again; it shows again as it was",
                false};
    }
    return {"", false};
}

} // namespace pev::cli::tool
