#include "archive/clip_file_name.hpp"

#include <cstdio>

namespace pev::archive {

std::string clip_file_name(const std::string& base_name, int position) {
    char number[16];
    std::snprintf(number, sizeof number, "_%04d.wav", position);
    return base_name + number;
}

} // namespace pev::archive
