#pragma once
// The receiving end of a systemd notify socket, so tests can watch the status reports of a
// service they run. Linux only: Windows services report to the service control manager.
#include <cstdint>
#include <string>

namespace qolv::platform {

class ServiceNotifyListener {
 public:
  ServiceNotifyListener() = default;
  ~ServiceNotifyListener();
  ServiceNotifyListener(const ServiceNotifyListener&) = delete;
  ServiceNotifyListener& operator=(const ServiceNotifyListener&) = delete;

  // Binds a datagram socket at the path (a file that must not exist yet); the path is what
  // NOTIFY_SOCKET names. False with the system error set on failure.
  bool Open(const std::string& path);

  // Takes the next datagram, waiting at most timeoutMs; false when none came in time.
  bool Receive(std::string& message, uint32_t timeoutMs);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace qolv::platform
