#include "errors.h"

#include "corvane_result.h"

#include <cerrno>

namespace corvane::sys {

DWORD resultFromErrno(int error) {
    switch (error) {
    case 0:
        return NO_ERROR;
    case EPERM:
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case ENOBUFS:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENODEV:
    case ENXIO:
        return ERROR_DEV_NOT_EXIST;
    case EEXIST:
        return ERROR_OBJECT_ALREADY_EXISTS;
    case ENOENT:
    case ESRCH:
    case EADDRNOTAVAIL:
        return ERROR_NOT_FOUND;
    case EINVAL:
    case ERANGE:
        return ERROR_INVALID_PARAMETER;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return ERROR_NETWORK_UNREACHABLE;
    case EOPNOTSUPP:
    case EPROTONOSUPPORT:
    case EAFNOSUPPORT:
        return ERROR_NOT_SUPPORTED;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case EBUSY:
        return ERROR_BUSY;
    default:
        return ERROR_KERNEL_REJECTED;
    }
}

} // namespace corvane::sys
