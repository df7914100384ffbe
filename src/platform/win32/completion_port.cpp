#include "platform/completion_port.h"

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <winternl.h>
// clang-format on

#include <algorithm>

#include "platform/completion_port_detail.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED), "Overlapped mirrors OVERLAPPED");

HANDLE PortOf(void* impl) { return static_cast<HANDLE>(impl); }

// Wine completes operations of a closed socket with 676; callers expect the Windows 995.
uint32_t WindowsError(uint32_t error) { return error == err::kHandlesClosed ? err::kOperationAborted : error; }

}  // namespace

void* detail::CreatePortState() { return ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0); }

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
  const uint32_t error = ok ? 0 : WindowsError(::GetLastError());
  if (!ok) SetSystemError(error);
  completion = Completion{ok != FALSE, bytes, key, reinterpret_cast<Overlapped*>(overlapped), error};
  return true;
}

bool CompletionPort::WaitMany(Completion* completions, uint32_t capacity, uint32_t& count, uint32_t timeoutMs) {
  count = 0;
  OVERLAPPED_ENTRY entries[kMostPerWait];
  ULONG removed = 0;
  if (!::GetQueuedCompletionStatusEx(PortOf(impl_), entries, std::min(capacity, kMostPerWait), &removed,
                                     timeoutMs, FALSE)) {
    return false;  // timed out (258) or the port failed
  }
  for (ULONG i = 0; i < removed; ++i) {
    OVERLAPPED* overlapped = entries[i].lpOverlapped;
    // The record holds the operation's status, which GetQueuedCompletionStatus would have turned
    // into its result: any status that is not a success (an error or a warning) fails it, with
    // the status's system error.
    const auto status = overlapped != nullptr ? static_cast<NTSTATUS>(overlapped->Internal) : 0;
    const bool failed = status < 0;
    const uint32_t error = failed ? WindowsError(::RtlNtStatusToDosError(status)) : 0;
    completions[i] = Completion{!failed, entries[i].dwNumberOfBytesTransferred, entries[i].lpCompletionKey,
                                reinterpret_cast<Overlapped*>(overlapped), error};
  }
  count = removed;
  return true;
}

}  // namespace qolv::platform
