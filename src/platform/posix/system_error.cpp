#include <cerrno>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {
thread_local uint32_t t_lastError = 0;
}  // namespace

uint32_t GetSystemError() { return t_lastError; }
void SetSystemError(uint32_t code) { t_lastError = code; }

namespace posix {

uint32_t FromErrno(int error) {
  switch (error) {
    case 0: return err::kSuccess;
    case ENOENT: return err::kFileNotFound;
    case EACCES:
    case EPERM: return err::kAccessDenied;
    case ENOMEM: return err::kNotEnoughMemory;
    case EINVAL: return 10022;  // WSAEINVAL
    case ECONNRESET: return err::kWsaConnectionReset;
    case EPIPE: return err::kWsaConnectionReset;
    case ECONNABORTED: return err::kWsaConnectionAborted;
    case EBADF:
    case ENOTSOCK: return err::kWsaNotSocket;
    case ECANCELED: return err::kOperationAborted;
    case EAGAIN: return err::kWsaWouldBlock;
    case EINPROGRESS: return 10036;  // WSAEINPROGRESS
    case EADDRINUSE: return err::kWsaAddressInUse;
    case EADDRNOTAVAIL: return err::kWsaAddressNotAvailable;
    case EAFNOSUPPORT: return 10047;  // WSAEAFNOSUPPORT
    case ENOTCONN: return err::kWsaNotConnected;
    case ETIMEDOUT: return 10060;  // WSAETIMEDOUT
    case ECONNREFUSED: return 10061;  // WSAECONNREFUSED
    case EMFILE: return 10024;  // WSAEMFILE
    case ENOBUFS: return 10055;  // WSAENOBUFS
    case EHOSTUNREACH: return 10065;  // WSAEHOSTUNREACH
    case ENETUNREACH: return 10051;  // WSAENETUNREACH
    case EEXIST: return 183;  // ERROR_ALREADY_EXISTS
    default: return static_cast<uint32_t>(error);
  }
}

uint32_t SetSystemErrorFromErrno() {
  const uint32_t code = FromErrno(errno);
  SetSystemError(code);
  return code;
}

uint32_t ReportError(uint32_t code) {
  SetSystemError(code);
  return code;
}

}  // namespace posix
}  // namespace qolv::platform
