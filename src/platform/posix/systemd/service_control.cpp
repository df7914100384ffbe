// The Linux stand-in for the service control manager's dispatcher: the service-main runs on a
// thread of its own while the calling (main) thread turns SIGTERM and SIGINT into the stop
// control and returns once the service has reported stopped.
#include "platform/service_control.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/service_control_detail.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

// What the dispatching thread shares with the threads that register and report.
struct DispatcherState {
  std::mutex mutex;
  ControlHandlerFunction handler = nullptr;
  uint32_t lastState = 0;
  int wakeFd = -1;  // an eventfd the dispatching thread waits on; -1 while no dispatcher runs
};
DispatcherState g_state;

const char* StateName(uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return "stopped";
    case kServiceStartPending:
      return "start pending";
    case kServiceStopPending:
      return "stop pending";
    case kServiceRunning:
      return "running";
    default:
      return "other";
  }
}

// One datagram in the systemd notify protocol; nothing is sent when no notify socket is given.
bool Notify(const ServiceStatus& status) {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (socketPath == nullptr || socketPath[0] == 0) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::strlen(socketPath);
  if (length >= sizeof address.sun_path) {
    SetSystemError(err::kInvalidParameter);
    return false;
  }
  std::memcpy(address.sun_path, socketPath, length);
  if (socketPath[0] == '@') address.sun_path[0] = 0;  // an abstract socket name

  std::string message;
  if (status.currentState == kServiceRunning) message += "READY=1\n";
  if (status.currentState == kServiceStopPending || status.currentState == kServiceStopped) {
    message += "STOPPING=1\n";
  }
  message += "STATUS=" + std::string(StateName(status.currentState)) + " (" +
             std::to_string(status.currentState) + "), exit code " + std::to_string(status.win32ExitCode) +
             ", checkpoint " + std::to_string(status.checkPoint) + "\n";

  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), addressLength);
  const bool ok = sent == static_cast<ssize_t>(message.size());
  if (!ok) posix::SetSystemErrorFromErrno();
  ::close(fd);
  return ok;
}

void DrainFd(int fd, void* buffer, size_t size) {
  while (::read(fd, buffer, size) > 0) {
  }
}

}  // namespace

ServiceStatusHandle RegisterControlHandler(const char*, ControlHandlerFunction handler) {
  std::lock_guard lock(g_state.mutex);
  g_state.handler = handler;
  return &g_state;
}

bool detail::SendServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (handle != &g_state) {
    SetSystemError(err::kInvalidHandle);
    return false;
  }
  const bool sent = Notify(status);
  std::lock_guard lock(g_state.mutex);
  g_state.lastState = status.currentState;
  if (g_state.wakeFd >= 0) {
    const uint64_t one = 1;
    (void)!::write(g_state.wakeFd, &one, sizeof one);
  }
  return sent;
}

bool RunServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
  // Every log line also goes to standard error. When that is a pipe whose reader went away (a
  // tee ended by the same Ctrl-C), the write must fail instead of ending the service before
  // its stop steps have run.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  // Blocked before the service thread starts, so every thread of the service inherits the mask
  // and the signals reach only the signalfd read here.
  sigset_t previousMask;
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previousMask);
  const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  const int wakeFd = signalFd < 0 ? -1 : ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    const uint32_t error = posix::SetSystemErrorFromErrno();
    if (signalFd >= 0) ::close(signalFd);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    SetSystemError(error);
    return false;
  }
  {
    std::lock_guard lock(g_state.mutex);
    g_state.lastState = 0;
    g_state.wakeFd = wakeFd;
  }

  std::string name = serviceName;
  std::thread serviceThread;
  uint32_t startError = 0;
  try {
    serviceThread = std::thread([&name, serviceMain] {
      char* argv[] = {name.data(), nullptr};
      serviceMain(1, argv);
    });
  } catch (const std::system_error&) {
    startError = err::kNotEnoughMemory;  // what Windows reports when it cannot create a thread
  }

  // A stop signal that comes while the service is still starting is held back until it reports
  // running, as the service manager only delivers stop to a running service.
  bool stopWanted = false;
  while (startError == 0) {
    uint32_t state;
    ControlHandlerFunction handler;
    {
      std::lock_guard lock(g_state.mutex);
      state = g_state.lastState;
      handler = g_state.handler;
    }
    if (state == kServiceStopped) break;
    if (stopWanted && state == kServiceRunning && handler != nullptr) {
      stopWanted = false;
      handler(kControlStop);
      continue;
    }
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info;
      DrainFd(signalFd, &info, sizeof info);
      stopWanted = true;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      DrainFd(wakeFd, &count, sizeof count);
    }
  }
  if (serviceThread.joinable()) serviceThread.join();

  {
    std::lock_guard lock(g_state.mutex);
    g_state.wakeFd = -1;
    g_state.handler = nullptr;
  }
  ::close(wakeFd);
  ::close(signalFd);
  if (startError != 0) {
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    SetSystemError(startError);
    return false;
  }
  // The stop signals stay blocked: one that came during the stop would otherwise end the
  // process by its default action on the way out.
  return true;
}

}  // namespace qolv::platform
