#pragma once
// The value types of the engine's contract with its users. The numbers are part of the contract:
// they are logged and compared by the application.
#include <cstdint>

namespace qolv::net {

// What a listener event tells the engine; only Error changes what the engine does.
enum class EventResult : int32_t { Ok = 0, Ignore = 1, Error = 2 };

enum class ServerState : int32_t { Starting = 0, Started = 1, Stopping = 2, Stopped = 3 };

// The engine's last error code; ServerErrorText gives its text.
enum class ServerError : int32_t {
  Success = 0,
  IllegalState = 1,
  InvalidParameter = 2,
  CreateSocketFailed = 3,
  BindSocketFailed = 4,
  PrepareSocketFailed = 5,
  ListenSocketFailed = 6,
  CreateCompletionPortFailed = 7,
  CreateWorkerThreadFailed = 8,
  CreateDetectorThreadFailed = 9,
  AttachSocketFailed = 10,
  ConnectServerFailed = 11,
  NetworkError = 12,
  ProcessDataError = 13,
  SendDataFailed = 14,
  SslEnvironmentNotReady = 101,
};

// The operation an I/O block carries, and the one OnClose reports as the cause of a close.
enum class SocketOp : int32_t { None = 0, Accept = 1, Send = 3, Receive = 4, Close = 5 };

enum class SendPolicy : int32_t { Batched = 0, Paced = 1, Immediate = 2 };

// Which per-connection lock the engine holds while it raises OnSent.
enum class SendEventLocking : int32_t { Unlocked = 0, UnderSendLock = 1, UnderReceiveLock = 2 };

// Address options of the listen socket: exclusive use, neither option, or address reuse.
enum class AddressReusePolicy : int32_t { Exclusive = 0, None = 1, Reuse = 2 };

// Outcome of Fetch and Peek. NoBuffer: the id has no live receive buffer (never issued, already
// closed, or out of range); nothing was copied.
enum class PullResult : int32_t { Ok = 0, Insufficient = 1, NoBuffer = 2 };

// One buffer of a gathered send; the field order is that of the system's own buffer record.
struct BufferView {
  uint32_t length;
  const uint8_t* data;
};

}  // namespace qolv::net
