#include "platform/process_resources.h"

#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <vector>

#include "platform/system_error.h"

namespace qolv::platform {
namespace {

// One entry of the system's handle table (SystemExtendedHandleInformation, class 64).
struct HandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG access;
  USHORT creatorBackTrace;
  USHORT typeIndex;
  ULONG attributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

constexpr ULONG kExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

// The handles of a process as the system's handle table lists them; 0 when it cannot be read.
DWORD CountInHandleTable(DWORD processId) {
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const LONG status =
        query(kExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
      continue;
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    DWORD count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) count += table->entries[i].processId == processId ? 1 : 0;
    return count;
  }
  return 0;
}

}  // namespace

bool ReadProcessResources(uint32_t processId, ProcessResources& resources) {
  const HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) {
    SetSystemError(::GetLastError());
    return false;
  }
  PROCESS_MEMORY_COUNTERS memory{};
  DWORD handles = 0;
  const bool read =
      ::GetProcessMemoryInfo(process, &memory, sizeof memory) && ::GetProcessHandleCount(process, &handles);
  const DWORD error = ::GetLastError();
  // A live process always holds handles; Wine answers 0 here, but lists them in its system
  // handle table.
  if (read && handles == 0) handles = CountInHandleTable(processId);
  ::CloseHandle(process);
  if (!read) {
    SetSystemError(error);
    return false;
  }
  // The handle this call opened on the process itself is not one the process holds.
  if (processId == ::GetCurrentProcessId() && handles > 0) --handles;
  resources.residentBytes = memory.WorkingSetSize;
  resources.handles = handles;
  return true;
}

}  // namespace qolv::platform
