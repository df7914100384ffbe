#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include "platform/minidump_writer.h"
#include "platform/win32/crash_context.h"

namespace qolv::platform {
namespace {

// MiniDumpWithUnloadedModules | MiniDumpWithIndirectlyReferencedMemory | MiniDumpWithProcessThreadData.
constexpr DWORD kDumpType = 0x160;

using WriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                        PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

}  // namespace

// The path is UTF-8, converted on the stack: the crash path allocates nothing.
FileHandle CreateDumpFile(const char* path) {
  wchar_t widePath[4096];
  if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, sizeof widePath / sizeof widePath[0]) == 0) {
    return kInvalidFile;
  }
  const HANDLE file =
      ::CreateFileW(widePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

void CloseDumpFile(FileHandle file) {
  if (file != kInvalidFile) ::CloseHandle(reinterpret_cast<HANDLE>(file));
}

// dbghelp.dll is loaded only when a dump is due, so a process that never crashes never maps it.
MinidumpWriter::LoadResult MinidumpWriter::Load() {
  Unload();
  const HMODULE library = ::LoadLibraryA("dbghelp.dll");
  if (library == nullptr) return LoadResult::kNoLibrary;
  library_ = library;
  function_ = reinterpret_cast<void*>(::GetProcAddress(library, "MiniDumpWriteDump"));
  return function_ != nullptr ? LoadResult::kReady : LoadResult::kNoFunction;
}

void MinidumpWriter::Unload() {
  if (library_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(library_));
  library_ = nullptr;
  function_ = nullptr;
}

bool MinidumpWriter::Write(FileHandle file, CrashContext* context) {
  if (function_ == nullptr) {
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = ::GetCurrentThreadId();
  exception.ExceptionPointers = context->pointers;
  // The pointers are addresses in this process, which the writer reads as its own.
  exception.ClientPointers = TRUE;
  const auto write = reinterpret_cast<WriteDumpFunction>(function_);
  return write(::GetCurrentProcess(), ::GetCurrentProcessId(), reinterpret_cast<HANDLE>(file),
               static_cast<MINIDUMP_TYPE>(kDumpType), &exception, nullptr, nullptr) != FALSE;
}

}  // namespace qolv::platform
