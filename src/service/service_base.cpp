#include "service/service_base.h"

#include <cstdio>

#include "platform/system_error.h"
#include "service/service_error.h"
#include "service/service_identity.h"

namespace qolv {
namespace {

// The event text buffer holds 260 characters with its terminator.
constexpr size_t kMaxEventCharacters = 259;
constexpr char kErrorEventFormat[] = "%s failed w/err 0x%08lx";

// Cuts a UTF-8 text to at most maxCharacters characters without splitting one.
void CutToCharacters(std::string& text, size_t maxCharacters) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (startsCharacter && characters++ == maxCharacters) {
      text.resize(i);
      return;
    }
  }
}

}  // namespace

std::atomic<CServiceBase*> CServiceBase::instance_{nullptr};
std::atomic<uint32_t> CServiceBase::checkPoint_{1};

CServiceBase::CServiceBase() : name_(kServiceName) {
  status_.serviceType = platform::kServiceWin32OwnProcess;
  status_.currentState = platform::kServiceStartPending;
  status_.controlsAccepted = platform::kAcceptStop | platform::kAcceptShutdown;
}

CServiceBase::~CServiceBase() = default;

void CServiceBase::OnServiceStart(int, char**) {}
void CServiceBase::OnServiceStop() {}
void CServiceBase::OnServicePause() {}
void CServiceBase::OnServiceContinue() {}
void CServiceBase::OnServiceShutdown() {}

void CServiceBase::SetInstance(CServiceBase* service) { instance_.store(service); }

bool CServiceBase::Run(CServiceBase& service) {
  SetInstance(&service);
  const bool ran = platform::RunServiceDispatcher(service.name_, &CServiceBase::ServiceMain);
  const uint32_t error = platform::GetSystemError();
  SetInstance(nullptr);
  platform::SetSystemError(error);
  return ran;
}

void CServiceBase::ServiceMain(int argc, char** argv) {
  if (CServiceBase* service = instance_.load()) service->Start(argc, argv);
}

void CServiceBase::ControlHandler(uint32_t control) {
  CServiceBase* service = instance_.load();
  if (service == nullptr) return;
  switch (control) {
    case platform::kControlStop:
      service->Stop();
      break;
    case platform::kControlShutdown:
      service->Shutdown();
      break;
    default:
      break;  // interrogate and anything else: nothing changed, so nothing is sent
  }
}

void CServiceBase::Start(int argc, char** argv) {
  const platform::ServiceStatusHandle handle =
      platform::RegisterControlHandler(name_, &CServiceBase::ControlHandler);
  if (handle == nullptr) {
    // Without a handle no status can reach the service manager; the event log is all that is left.
    LogErrorEvent("RegisterServiceCtrlHandler", platform::GetSystemError());
    return;
  }
  {
    std::lock_guard lock(statusMutex_);
    statusHandle_ = handle;
  }
  ReportStatus(platform::kServiceStartPending);
  try {
    OnServiceStart(argc, argv);
    ReportStatus(platform::kServiceRunning);
  } catch (const CServiceError& error) {
    LogErrorEvent("Service Start", error.code());
    ReportStatus(platform::kServiceStopped, error.code());
  } catch (...) {
    LogEvent("Service failed to start.", platform::kEventError);
    ReportStatus(platform::kServiceStopped);
  }
}

void CServiceBase::Stop() {
  const uint32_t previous = CurrentState();
  ReportStatus(platform::kServiceStopPending);
  try {
    OnServiceStop();
    ReportStatus(platform::kServiceStopped);
  } catch (const CServiceError& error) {
    LogErrorEvent("Service Stop", error.code());
    ReportStatus(previous);
  } catch (...) {
    LogEvent("Service failed to stop.", platform::kEventError);
    ReportStatus(previous);
  }
}

void CServiceBase::Shutdown() {
  OnServiceShutdown();
  ReportStatus(platform::kServiceStopped);
}

uint32_t CServiceBase::CurrentState() {
  std::lock_guard lock(statusMutex_);
  return status_.currentState;
}

void CServiceBase::ReportStatus(uint32_t state, uint32_t exitCode) {
  std::lock_guard lock(statusMutex_);
  status_.currentState = state;
  status_.win32ExitCode = exitCode;
  status_.waitHint = 0;
  const bool settled = state == platform::kServiceRunning || state == platform::kServiceStopped;
  status_.checkPoint = settled ? 0 : checkPoint_.fetch_add(1);
  platform::ReportServiceStatus(statusHandle_, status_);
}

void CServiceBase::LogEvent(const std::string& message, uint16_t type) {
  const char* strings[] = {name_, message.c_str()};
  platform::WriteEventLogEntry(name_, type, strings, 2);
}

void CServiceBase::LogErrorEvent(const char* operation, uint32_t code) {
  const unsigned long value = code;
  const int length = std::snprintf(nullptr, 0, kErrorEventFormat, operation, value);
  std::string message(static_cast<size_t>(length > 0 ? length : 0), '\0');
  std::snprintf(message.data(), message.size() + 1, kErrorEventFormat, operation, value);
  CutToCharacters(message, kMaxEventCharacters);
  LogEvent(message, platform::kEventError);
}

}  // namespace qolv
