#pragma once
#include <cstdint>
#include <string>

#include "request/qolv_merel_device_plugin.h"
#include "request/task_worker.h"
#include "request/tcp_service.h"

namespace qolv {

class OutgoingFrame;
class TcpRequestSession;

// The request handling of the process: it queues every frame TcpService delivers as a task,
// maps request actions to SDK api names and sends the answers.
//
// The host brings it up in this order: Plugin().LoadSDK(), Plugin().InitSDK(), Tcp().Start(this),
// and Worker().Start() only if the server started. It takes it down with Worker().WaitForWorkers()
// (which raises the stop flag), Tcp().Server()->Stop(), and, once no SDK call runs any more,
// Plugin().UninitSDK(), Plugin().Unload().
class PrinterProxyService : public TcpService::Delegate {
 public:
  // The process-wide instance, created on first use, with the SDK library beside the executable.
  static PrinterProxyService& Instance();

  // A separate instance, for tests: its own task worker, server and SDK library.
  explicit PrinterProxyService(std::string sdkLibraryPath);
  // Waits for the task workers first, since their tasks use the server destroyed next.
  ~PrinterProxyService() override;
  PrinterProxyService(const PrinterProxyService&) = delete;
  PrinterProxyService& operator=(const PrinterProxyService&) = delete;

  // Runs on the engine's threads: the frame becomes a task on the task worker.
  void OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header, const uint8_t* body,
                 int32_t bodyLength) override;
  void OnConnectionClosed(uint16_t, uint32_t) override {}

  // The SDK api name of an action, or null when the action is none of the known ones.
  static const char* SdkApiFor(const std::string& action);

  // Hands a parsed request with a known action to the SDK, which answers it; false for an
  // unknown action (nothing is sent then).
  bool HandleRequest(const TcpRequestSession& session);

  // The operations that answer; each may be called from several task threads at once.
  bool SendFrame(uint16_t localPort, uint32_t connectionId, const OutgoingFrame& frame);
  bool SendHeartBeatAck(const TcpRequestSession& session);
  // response: the answer body, a zero-terminated text sent without its terminator.
  void SendResponse(const TcpRequestSession& session, const char* response);
  void SendErrorResponse(const TcpRequestSession& session, int32_t code, const char* message);

  QolvMerelDevicePlugin& Plugin() { return plugin_; }
  TaskWorker& Worker() { return worker_; }
  TcpService& Tcp() { return tcp_; }

 private:
  // Destroyed in reverse order: the server first, then the queue, and the SDK bridge last.
  QolvMerelDevicePlugin plugin_;
  TaskWorker worker_;
  TcpService tcp_;
};

}  // namespace qolv
