#include "service/printer_proxy_session.h"

#include "log/logger.h"
#include "request/printer_proxy_service.h"
#include "request/task_worker.h"
#include "service/service_identity.h"

namespace qolv {

bool CPrinterProxySession::Start() {
  Logger& log = Logger::Instance();
  log.Configure();
  log.WriteLine(DBG_SESSION, "");
  log.Print(DBG_SESSION, ">>>>>>>>>>>> SESSION START: DBG_LEVEL:%d >>>>>>>>>>>>", log.Threshold());
  log.Print(DBG_INFO, "**************** QolvPrinterProxy Start, Version=%s *************", kServiceVersion);

  PrinterProxyService& service = PrinterProxyService::Instance();
  // Without a complete library there is nothing to set up; requests are then answered with
  // "sdk unavailable" instead of calling into a library that is not there.
  if (service.Plugin().LoadSDK()) service.Plugin().InitSDK();
  // A server that could not listen leaves the service running with nothing to serve, so no
  // worker threads are started for it.
  if (!service.Tcp().Start(&service)) return true;
  if (service.Worker().Start()) return true;
  log.Print(DBG_ERROR, "TaskWorker Start failed: %d of %d worker threads could be created",
            service.Worker().ThreadCount(), TaskWorker::kWorkerCount);
  return false;
}

bool CPrinterProxySession::Stop(const StopProgress& stillStopping) {
  PrinterProxyService& service = PrinterProxyService::Instance();
  Logger& log = Logger::Instance();
  // Raises the workers' stop flag and waits until each has left its loop, so that no SDK call
  // is in progress when the SDK is released below. Answers of the tasks in hand can still go out,
  // because the server stops only afterwards.
  const bool workersEnded = service.Worker().WaitForWorkers(kWorkerStopLimitMs, stillStopping);
  if (!workersEnded) {
    const std::string calls = service.Plugin().CallsInProgress();
    log.Print(DBG_ERROR,
              "TaskWorker did not stop within %u ms, SDK call in progress: method=%s; "
              "UninitQolvTovuSDK and the unload are skipped",
              kWorkerStopLimitMs, calls.empty() ? "(none)" : calls.c_str());
  }
  service.Tcp().Server()->Stop();
  if (workersEnded) {
    service.Plugin().UninitSDK();
    service.Plugin().Unload();
  }
  log.Print(DBG_SESSION, "<<<<<<<<<<<< SESSION FINISH: DBG_LEVEL:%d <<<<<<<<<<<<\r\n", log.Threshold());
  return workersEnded;
}

}  // namespace qolv
