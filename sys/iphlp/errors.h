// errno to the result codes of the stand-in libraries; a raw errno never leaves them.
#pragma once

#include "corvane_types.h"

namespace corvane::sys {

DWORD resultFromErrno(int error);

} // namespace corvane::sys
