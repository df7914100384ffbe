#include "service/printer_proxy_session.h"

#include "log/logger.h"
#include "request/printer_proxy_service.h"
#include "service/service_identity.h"

namespace qolv {

void CPrinterProxySession::Start() {
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
  if (service.Tcp().Start(&service)) service.Worker().Start();
}

void CPrinterProxySession::Stop() {
  PrinterProxyService& service = PrinterProxyService::Instance();
  // Raises the workers' stop flag and waits until each has left its loop, so that no SDK call
  // is in progress when the SDK is released below. Answers of the tasks in hand can still go out,
  // because the server stops only afterwards.
  service.Worker().WaitForWorkers();
  service.Tcp().Server()->Stop();
  service.Plugin().UninitSDK();
  service.Plugin().Unload();
  Logger& log = Logger::Instance();
  log.Print(DBG_SESSION, "<<<<<<<<<<<< SESSION FINISH: DBG_LEVEL:%d <<<<<<<<<<<<\r\n", log.Threshold());
}

}  // namespace qolv
