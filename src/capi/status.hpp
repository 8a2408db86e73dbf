#pragma once
// How the core's verdicts and failures become the C API's status codes, and
// the barrier that keeps C++ exceptions from crossing into C.

#include "archive/archive_reader.hpp"
#include "pev/pev.h"

#include <new>
#include <stdexcept>

namespace pev::capi {

pev_status status_of(archive::OpenResult result);
pev_status status_of(archive::ClipProblem problem);
// The status of an error of the core's.
pev_status status_of(const Error& error);

// Runs `body`, which returns a pev_status. The core throws only when memory
// cannot be had; anything that escapes it anyway is reported the same way,
// since an exception must never unwind into a C caller.
template <class Body> pev_status guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return PEV_ERR_NO_MEMORY;
    }
}

} // namespace pev::capi
