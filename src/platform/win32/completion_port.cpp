#include "platform/completion_port.h"

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED), "Overlapped mirrors OVERLAPPED");

HANDLE PortOf(void* impl) { return static_cast<HANDLE>(impl); }

}  // namespace

CompletionPort::~CompletionPort() { Close(); }

bool CompletionPort::Open() {
  if (impl_ != nullptr) {
    SetSystemError(err::kInvalidState);
    return false;
  }
  impl_ = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
  return impl_ != nullptr;
}

void CompletionPort::Close() {
  if (impl_ == nullptr) return;
  ::CloseHandle(PortOf(impl_));
  impl_ = nullptr;
}

bool CompletionPort::Associate(SocketHandle socket, uintptr_t key) {
  // Without a port the call would quietly create a new one.
  if (impl_ == nullptr) {
    SetSystemError(err::kInvalidHandle);
    return false;
  }
  return ::CreateIoCompletionPort(reinterpret_cast<HANDLE>(socket), PortOf(impl_), key, 0) != nullptr;
}

bool CompletionPort::Post(uint32_t bytes, uintptr_t key) {
  return ::PostQueuedCompletionStatus(PortOf(impl_), bytes, key, nullptr) != FALSE;
}

bool CompletionPort::Wait(Completion& completion, uint32_t timeoutMs) {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  const BOOL ok = ::GetQueuedCompletionStatus(PortOf(impl_), &bytes, &key, &overlapped, timeoutMs);
  if (!ok && overlapped == nullptr) return false;  // timed out (258) or the port failed
  uint32_t error = ok ? 0 : ::GetLastError();
  // Wine completes operations of a closed socket with 676; callers expect the Windows 995.
  if (error == err::kHandlesClosed) {
    error = err::kOperationAborted;
    SetSystemError(error);
  }
  completion = Completion{ok != FALSE, bytes, key, reinterpret_cast<Overlapped*>(overlapped), error};
  return true;
}

}  // namespace qolv::platform
