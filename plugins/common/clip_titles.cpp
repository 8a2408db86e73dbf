#include "clip_titles.hpp"

#include <algorithm>
#include <cstdio>
#include <glib.h>

namespace pev::player {

namespace {

constexpr std::string_view kExtension = ".pev";

bool ends_with_extension(std::string_view name) {
    if (name.size() <= kExtension.size()) {
        return false; // ".pev" alone is a name, not an extension
    }
    return g_ascii_strncasecmp(name.data() + name.size() - kExtension.size(), kExtension.data(),
                               kExtension.size()) == 0;
}

// The URI's path: after "scheme:" and "//authority", up to "?" or "#".
std::string_view uri_path(std::string_view uri) {
    const std::size_t colon = uri.find(':');
    if (colon != std::string_view::npos && colon < uri.find_first_of("/?#")) {
        uri.remove_prefix(colon + 1);
    }
    if (uri.starts_with("//")) {
        uri.remove_prefix(std::min(uri.size(), uri.find_first_of("/?#", 2)));
    }
    return uri.substr(0, uri.find_first_of("?#"));
}

std::string percent_decoded(std::string_view segment) {
    const std::string escaped(segment);
    // NULL for an escaped '/' or NUL, which no file name holds: keep it as written.
    gchar* decoded = g_uri_unescape_segment(escaped.c_str(), nullptr, "/");
    std::string bytes = decoded != nullptr ? decoded : escaped;
    g_free(decoded);
    return bytes;
}

} // namespace

std::string archive_base_name(std::string_view uri) {
    const std::string_view path = uri_path(uri);
    // npos + 1 is 0: a path without '/' is its own last segment.
    std::string name = percent_decoded(path.substr(path.find_last_of('/') + 1));
    if (ends_with_extension(name)) {
        name.resize(name.size() - kExtension.size());
    }
    if (name.empty()) {
        return "stdin";
    }
    gchar* valid = g_utf8_make_valid(name.data(), static_cast<gssize>(name.size()));
    std::string title = valid;
    g_free(valid);
    return title;
}

std::string clip_title(std::string_view base_name, std::size_t position) {
    char number[32];
    std::snprintf(number, sizeof number, "_%04zu.wav", position);
    return std::string(base_name) + number;
}

} // namespace pev::player
