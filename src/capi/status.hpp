#pragma once
// How the core's verdicts and failures become the C API's status codes, and
// the barrier that keeps C++ exceptions from crossing into C.

#include "archive/archive_reader.hpp"
#include "common/error.hpp"
#include "pev/pev.h"

#include <new>
#include <stdexcept>
#include <system_error>

namespace pev::capi {

pev_status status_of(archive::OpenResult result);
pev_status status_of(archive::ClipProblem problem);
// The one table from the core's errors to status codes.
pev_status status_of(const Error& error);

// Runs `body`, which returns a pev_status, and turns what it throws into
// what it is, since an exception must never unwind into a C caller: memory
// that cannot be had (std::bad_alloc, or a size no container can hold), a
// system call that failed (std::system_error), and anything else, which is
// a fault of the library.
template <class Body> pev_status guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PEV_ERR_NO_MEMORY;
    } catch (const std::length_error&) {
        return PEV_ERR_NO_MEMORY;
    } catch (const std::system_error&) {
        return PEV_ERR_IO;
    } catch (...) {
        return PEV_ERR_INTERNAL;
    }
}

} // namespace pev::capi
