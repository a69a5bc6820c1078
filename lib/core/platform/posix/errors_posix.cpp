#include <cerrno>

#include "../errors.h"

namespace zeb::plat {

uint32_t winsock_error(int e) noexcept {
    switch (e) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
        case EPERM:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
        case ENFILE:
            return 10024;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EWOULDBLOCK:
            return 10035;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case EOPNOTSUPP:
            return 10045;
        case EPFNOSUPPORT:
            return 10046;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENETRESET:
            return 10052;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
            return 10054;
        case ENOBUFS:
        case ENOMEM:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ESHUTDOWN:
            return 10058;
        case ETOOMANYREFS:
            return 10059;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case ELOOP:
            return 10062;
        case ENAMETOOLONG:
            return 10063;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        case ENOTEMPTY:
            return 10066;
        case EUSERS:
            return 10068;
        case EDQUOT:
            return 10069;
        case ESTALE:
            return 10070;
        case EREMOTE:
            return 10071;
        default:
            return 10107;  // WSASYSCALLFAILURE: no closer Winsock number
    }
}

uint32_t system_error(int e) noexcept {
    switch (e) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return 2;  // ERROR_FILE_NOT_FOUND, as for a COM port that does not exist
        case ENOTDIR:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EISDIR:
            return 5;
        case EBADF:
            return 6;
        case ENOMEM:
            return 8;
        case EROFS:
            return 19;
        case EBUSY:
#if EAGAIN != EWOULDBLOCK
        case EWOULDBLOCK:
#endif
        case EAGAIN:
            return 32;  // ERROR_SHARING_VIOLATION: the port is held elsewhere
        case ENOTTY:
            return 1;  // ERROR_INVALID_FUNCTION: not a serial device
        case EINVAL:
            return 87;
        case ENOSPC:
            return 112;
        case ENAMETOOLONG:
            return 206;
        case EIO:
            return 1117;
        case EINTR:
            return 1223;
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

}  // namespace zeb::plat
