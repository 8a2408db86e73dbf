#include "pack/pack_inputs.hpp"

#include "archive/archive_layout.hpp"
#include "archive/clip_file_name.hpp"
#include "common/name_order.hpp"
#include "platform/utf8_path.hpp"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace pev::pack {
namespace {

namespace fs = std::filesystem;

bool exists(const std::string& name) {
    std::error_code ignored;
    return fs::exists(path_from_utf8(name), ignored);
}

bool has_extension(const fs::path& name, std::span<const std::string_view> extensions) {
    const std::string extension = utf8_from_path(name.extension());
    return std::any_of(extensions.begin(), extensions.end(), [&](std::string_view wanted) {
        return equal_ignoring_case(extension, wanted);
    });
}

// Appends the folder's files of `extensions` in name order; an error when
// the folder cannot be listed or holds none.
Error append_folder(const std::string& folder, std::span<const std::string_view> extensions,
                    std::vector<std::string>& files) {
    std::vector<std::string> names; // UTF-8, so the order is the same on every host
    std::error_code error;
    for (fs::directory_iterator item(path_from_utf8(folder), error), end; !error && item != end;
         item.increment(error)) {
        std::error_code ignored;
        const fs::path name = item->path().filename();
        std::string utf8 = utf8_from_path(name);
        // Hidden files (editors' and systems' own, such as ._clip.wav) are
        // not clips.
        if (!utf8.starts_with('.') && item->is_regular_file(ignored) &&
            has_extension(name, extensions)) {
            names.push_back(std::move(utf8));
        }
    }
    if (error) {
        return os_error(ErrorCode::cannot_list_folder, folder, error);
    }
    if (names.empty()) {
        return error_about(ErrorCode::folder_without_wavs, folder);
    }
    std::sort(names.begin(), names.end(), before_as_people_sort);
    // Joined with '/', which every host takes, so the names (and the lines
    // that show them) are the same on every host too.
    const bool ends_in_separator = folder.back() == '/' || folder.back() == '\\';
    const std::string prefix = ends_in_separator ? folder : folder + '/';
    for (const std::string& name : names) {
        files.push_back(prefix + name);
    }
    return {};
}

} // namespace

InputList numbered_inputs(const std::string& base) {
    InputList list;
    for (int position = 1; position <= archive::kMaxWaveFiles; ++position) {
        const std::string name = archive::clip_file_name(base, position);
        if (!exists(name)) {
            break;
        }
        list.files.push_back(name);
    }
    if (list.files.empty()) {
        list.error = error_about(ErrorCode::no_numbered_inputs, archive::clip_file_name(base, 1));
    } else if (list.files.size() == archive::kMaxWaveFiles &&
               exists(archive::clip_file_name(base, archive::kMaxWaveFiles + 1))) {
        list.error = error_about(ErrorCode::too_many_numbered_inputs,
                                 archive::clip_file_name(base, archive::kMaxWaveFiles + 1));
    }
    return list;
}

InputList expand_inputs(std::span<const std::string> inputs,
                        std::span<const std::string_view> extensions) {
    InputList list;
    for (const std::string& input : inputs) {
        std::error_code ignored;
        if (!fs::is_directory(path_from_utf8(input), ignored)) {
            list.files.push_back(input);
        } else if (Error error = append_folder(input, extensions, list.files); !error.ok()) {
            list.error = std::move(error);
            return list;
        }
    }
    // The same file twice, by the same name, another spelling of its path,
    // or named and in a folder given too.
    std::set<fs::path> seen;
    for (const std::string& file : list.files) {
        std::error_code ignored;
        const fs::path absolute = fs::absolute(path_from_utf8(file), ignored).lexically_normal();
        if (!seen.insert(absolute).second) {
            list.error = error_about(ErrorCode::input_given_twice, file);
            return list;
        }
    }
    return list;
}

} // namespace pev::pack
