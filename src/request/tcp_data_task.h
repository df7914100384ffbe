#pragma once
#include <memory>

#include "request/connection_flow.h"
#include "request/task.h"
#include "request/tcp_request_session.h"

namespace qolv {

class PrinterProxyService;

// One received frame on its way through a task worker: Run decides by the frame's body and type
// whether it is answered, handed to the SDK, or only logged.
class TcpDataTask : public Task {
 public:
  // service answers the frame; it outlives every task it posts. ticket keeps the frame counted
  // as its connection's work for as long as the task exists.
  TcpDataTask(PrinterProxyService& service, std::unique_ptr<TcpRequestSession> session,
              WorkTicket ticket = {});

  void Run() override;

 private:
  void RunEmptyBody();
  void RunWithBody();

  PrinterProxyService& service_;
  std::unique_ptr<TcpRequestSession> session_;
  WorkTicket ticket_;
};

}  // namespace qolv
