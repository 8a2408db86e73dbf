#pragma once
// What a failed OutputFile means in the core's error vocabulary.

#include "common/error.hpp"
#include "platform/output_file.hpp"

namespace pev {

// file_exists when the name was taken, else cannot_create, cannot_write or
// cannot_put_in_place by the step that failed; ok() when nothing failed.
Error output_error(const OutputFile& file);

} // namespace pev
