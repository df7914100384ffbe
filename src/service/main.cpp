// QolvPrinterProxy: "-install" or "-remove" (also with "/") registers or unregisters the service;
// any other switch does nothing; no switch runs the service until it is stopped. The exit code
// is 0 in every case: outcomes are printed.
#include "net/engine_process_setup.h"
#include "platform/process_info.h"
#include "platform/system_error.h"
#include "service/command_line.h"
#include "service/service_monitor.h"

namespace {

// Constructed before main, so the socket library and the timer period are in place before any
// thread runs. Static objects end in the reverse order in which they were completed: the
// request handling and the logger are built on first use by the session, long after this one,
// so they end first (the request handling, then the logger, which the session built before it),
// and this ends last: the timer period, then the socket library.
qolv::net::CEngineProcessSetup g_engineSetup;

}  // namespace

int main(int argc, char** argv) {
  if (!qolv::HandleCommandLine(argc, argv)) return 0;
  bool workLeftRunning = false;
  {
    qolv::CServiceMonitor monitor;
    if (!qolv::CServiceBase::Run(monitor)) qolv::PrintDispatcherFailure(qolv::platform::GetSystemError());
    workLeftRunning = monitor.WorkLeftRunning();
  }
  // An SDK call that never returned still holds a task worker, which the ordinary end would wait
  // for while it destroys what the call returns into.
  if (workLeftRunning) qolv::platform::EndProcessNow(0);
  return 0;
}
