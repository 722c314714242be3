// The one gate every exported entry point passes through: its callers are C, and an
// exception unwinding into them ends the program.
#pragma once

#include "corvane_result.h"
#include "corvane_types.h"

#include <new>

namespace corvane::sys {

template <typename Fn> DWORD guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

} // namespace corvane::sys
