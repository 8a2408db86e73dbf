#include "cli/pev/replacement_sources.hpp"

#include "cli/pack_messages.hpp"
#include "cli/pev/named_archive.hpp"
#include "cli/pev/sound_support.hpp"
#include "common/name_order.hpp"
#include "pack/pack_inputs.hpp"
#include "sound/sound_formats.hpp"

#include <map>

namespace pev::cli::tool {
namespace {

constexpr std::size_t kTwoClips = static_cast<std::size_t>(-1);

// The file name of `path`, after its last '/' (the separator folder
// listings are joined with on every host).
std::string file_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string without_sound_extension(const std::string& name) {
    // Every extension of a sound format, whichever this build reads.
    for (const std::string_view extension : sound::kRecordingExtensions) {
        if (name.size() > extension.size() && ends_with_ignoring_case(name, extension)) {
            return name.substr(0, name.size() - extension.size());
        }
    }
    return name;
}

FolderMatch match_folder(const std::string& folder, const archive::ArchiveReader& reader,
                         const std::string& base, const NameTemplate& names) {
    FolderMatch match;
    const pack::InputList listed =
        pack::expand_inputs(std::vector<std::string>{folder}, folder_extensions());
    if (listed.error.code == ErrorCode::folder_without_wavs) {
        match.error = folder + ": it holds no sound files";
        return match;
    }
    if (!listed.error.ok()) {
        match.error = pack_error_text(listed.error);
        return match;
    }
    // Each clip's name as extract gives it, without its extension.
    std::map<std::string, std::size_t> clip_named;
    std::map<std::string, std::size_t> first_named; // for the error of a shared name
    for (std::size_t index = 0; index < reader.clip_count(); ++index) {
        const std::string name =
            without_sound_extension(names.expand(base, index + 1, reader.row(index).id));
        const auto [at, added] = clip_named.emplace(name, index);
        if (!added) {
            first_named.emplace(name, at->second);
            at->second = kTwoClips;
        }
    }
    for (const std::string& file : listed.files) {
        const std::string name = without_sound_extension(file_name_of(file));
        const auto found = clip_named.find(name);
        if (found == clip_named.end()) {
            match.unmatched.push_back(file);
        } else if (found->second == kTwoClips) {
            const std::size_t first = first_named.at(name);
            match.error = file + ": its name fits " + clip_label(first, reader.row(first).id) +
                          " and later clips alike; give a --name template with {n}";
            return match;
        } else {
            match.matched.push_back({found->second, file});
        }
    }
    return match;
}

} // namespace pev::cli::tool
