#include "platform/service_notify_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/system_error.h"

namespace qolv::platform {

ServiceNotifyListener::~ServiceNotifyListener() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool ServiceNotifyListener::Open(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd_ >= 0 || path.size() >= sizeof address.sun_path) {
    SetSystemError(err::kInvalidParameter);
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const uint32_t error = posix::SetSystemErrorFromErrno();
    ::close(fd);
    SetSystemError(error);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool ServiceNotifyListener::Receive(std::string& message, uint32_t timeoutMs) {
  pollfd wanted{fd_, POLLIN, 0};
  if (::poll(&wanted, 1, static_cast<int>(timeoutMs)) <= 0) {
    SetSystemError(err::kWaitTimeout);
    return false;
  }
  char buffer[4096];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n < 0) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  message.assign(buffer, static_cast<size_t>(n));
  return true;
}

}  // namespace qolv::platform
