#pragma once
// The built service executable, run the way its platform runs it: on Linux as a foreground
// process (as systemd would), on Windows through the service manager. Whatever is left running
// or registered is stopped, ended by its id, or removed when the object goes.
#include <cstdint>
#include <memory>
#include <string>

namespace qolv::chaos {

class ServiceUnderTest {
 public:
  enum class Start { kListening, kPortTaken, kFailed };

  ServiceUnderTest();
  ~ServiceUnderTest();
  ServiceUnderTest(const ServiceUnderTest&) = delete;
  ServiceUnderTest& operator=(const ServiceUnderTest&) = delete;

  // Starts the service and waits until it listens on port 9199; problem says why it did not.
  Start Begin(std::string& problem);
  // The service's process id, once it listens.
  uint32_t ProcessId() const;
  // Stops it the platform's way and waits for its end; false, with the reason, when the stop was
  // not clean (Linux: exit code 0 after SIGTERM; Windows: the stopped state).
  bool Stop(std::string& problem);
  // What the service added to its log since this object was made.
  std::string LogText() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qolv::chaos
