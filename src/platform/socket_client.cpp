#include "platform/socket_client.h"

#include <chrono>

#include "platform/error_codes.h"
#include "platform/socket_client_detail.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

using Clock = std::chrono::steady_clock;
using detail::SocketWait;
using detail::WaitSocketReady;

Clock::time_point DeadlineAfter(uint32_t timeoutMs) {
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

uint32_t ConnectBlocking(SocketHandle socket, const SockAddr& address, uint32_t timeoutMs) {
  const uint32_t started = BeginConnect(socket, address);
  if (started != err::kWsaWouldBlock) return started;
  if (const uint32_t error = WaitSocketReady(socket, SocketWait::kWritable, DeadlineAfter(timeoutMs))) {
    return error;
  }
  return ConnectOutcome(socket);
}

uint32_t SendBlocking(SocketHandle socket, const char* data, uint32_t length, uint32_t timeoutMs) {
  const Clock::time_point deadline = DeadlineAfter(timeoutMs);
  uint32_t done = 0;
  while (done < length) {
    uint32_t sent = 0;
    const uint32_t error = SendNow(socket, data + done, length - done, &sent);
    if (error == err::kWsaWouldBlock) {
      if (const uint32_t waitError = WaitSocketReady(socket, SocketWait::kWritable, deadline))
        return waitError;
    } else if (error != err::kSuccess) {
      return error;
    }
    done += sent;
  }
  SetSystemError(err::kSuccess);
  return err::kSuccess;
}

uint32_t ReceiveBlocking(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received,
                         uint32_t timeoutMs) {
  const Clock::time_point deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    const uint32_t error = ReceiveNow(socket, buffer, length, received);
    if (error != err::kWsaWouldBlock) return error;
    if (const uint32_t waitError = WaitSocketReady(socket, SocketWait::kReadable, deadline)) return waitError;
  }
}

}  // namespace qolv::platform
