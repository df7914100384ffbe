#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/event_log.h"
#include "platform/service_control.h"

namespace qolv {

// The general service: owns the status the service manager sees, registers the control handler,
// reports every state change, turns controls into calls of the virtual hooks and records
// failures in the event log. A hook fails by raising CServiceError (with a system error code) or
// any other exception (without one). One instance serves the process.
class CServiceBase {
 public:
  CServiceBase();
  virtual ~CServiceBase();
  CServiceBase(const CServiceBase&) = delete;
  CServiceBase& operator=(const CServiceBase&) = delete;

  // Makes service the process-wide instance and hands it to the service manager's dispatcher.
  // Returns once the service has stopped (true), or false with the system error set when the
  // dispatcher could not start. The instance is cleared on return.
  static bool Run(CServiceBase& service);

  // The instance the dispatcher's callbacks act on; Run sets it.
  static void SetInstance(CServiceBase* service);

  const char* name() const { return name_; }

 protected:
  // Hooks; argv holds the start arguments as UTF-8 texts, argv[0] the service name.
  virtual void OnServiceStart(int argc, char** argv);
  virtual void OnServiceStop();
  virtual void OnServicePause();
  virtual void OnServiceContinue();
  virtual void OnServiceShutdown();

  // Stores the state and exit code and sends the status. Running and stopped carry checkpoint 0;
  // every other state takes the next value of the process-wide counter, which starts at 1.
  void ReportStatus(uint32_t state, uint32_t exitCode = 0);
  // One event-log entry under the service's name, with the name and the message as its strings.
  void LogEvent(const std::string& message, uint16_t type);
  // An error entry "<operation> failed w/err 0x<code>", cut to 259 characters.
  void LogErrorEvent(const char* operation, uint32_t code);

  // The callbacks given to the dispatcher; tests drive them directly.
  static void ServiceMain(int argc, char** argv);
  static void ControlHandler(uint32_t control);

 private:
  void Start(int argc, char** argv);
  void Stop();
  void Shutdown();
  uint32_t CurrentState();

  const char* name_;
  // Reports come from the service-main, dispatcher and session threads; the lock keeps each
  // store-and-send whole.
  std::mutex statusMutex_;
  platform::ServiceStatus status_;
  platform::ServiceStatusHandle statusHandle_ = nullptr;

  static std::atomic<CServiceBase*> instance_;
  static std::atomic<uint32_t> checkPoint_;
};

}  // namespace qolv
