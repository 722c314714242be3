// errno to the result codes of the stand-in libraries; a raw errno never leaves them.
#pragma once

#include "corvane_result.h"
#include "corvane_types.h"

#include <new>

namespace corvane::sys {

DWORD resultFromErrno(int error);

// Runs an entry point's body: no exception may unwind into a C caller.
template <typename Fn> DWORD guarded(Fn fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

} // namespace corvane::sys
