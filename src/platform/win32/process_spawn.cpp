#include <windows.h>

#include <cwchar>
#include <cwctype>

#include "platform/error_codes.h"
#include "platform/process_spawn_detail.h"

namespace qolv::platform::detail {
namespace {

// Texts arrive as UTF-8; the wide API takes them as they are meant on every code page.
std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// Quotes one argument so that the child's C runtime splits the command line back into exactly
// this argument: backslashes count only in front of a quote.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string CommandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = Quote(program);
  for (const std::string& argument : arguments) {
    line.push_back(' ');
    line += Quote(argument);
  }
  return line;
}

// Variable names are case-insensitive on Windows. (A name may begin with "=", as the hidden
// per-drive folders do, so the search for the separator starts behind the first character.)
bool SameName(const std::wstring& entry, const std::wstring& other) {
  const size_t a = entry.find(L'=', 1);
  const size_t b = other.find(L'=', 1);
  if (a != b || a == std::wstring::npos) return false;
  for (size_t i = 0; i < a; ++i) {
    if (std::towupper(entry[i]) != std::towupper(other[i])) return false;
  }
  return true;
}

// The environment block: the inherited variables less the replaced ones, then the new ones,
// each ended by a zero, and one more zero at the end.
std::wstring EnvironmentBlock(const std::vector<std::string>& overrides) {
  std::vector<std::wstring> added;
  for (const std::string& o : overrides) added.push_back(Widen(o));
  std::wstring block;
  if (wchar_t* inherited = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = inherited; *entry != 0; entry += std::wcslen(entry) + 1) {
      bool replaced = false;
      for (const std::wstring& a : added) replaced = replaced || SameName(entry, a);
      if (!replaced) block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(inherited);
  }
  for (const std::wstring& a : added) block.append(a).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  handle = nullptr;
}

// A pipe whose write end the child inherits; the read end stays with us alone.
bool MakeOutputPipe(HANDLE& read, HANDLE& write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (!::CreatePipe(&read, &write, &inherit, 0)) return false;
  return ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

}  // namespace

bool SpawnChild(const std::string& program, const std::vector<std::string>& arguments,
                const SpawnOptions& options, SpawnedChild& child) {
  if (options.underTracer) {
    ::SetLastError(err::kNotSupported);
    return false;
  }
  const std::wstring application = Widen(program);
  std::wstring commandLine = Widen(CommandLine(program, arguments));
  std::wstring environment = EnvironmentBlock(options.environment);
  const std::wstring folder = Widen(options.workingDirectory);

  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  PROCESS_INFORMATION process{};
  bool made =
      input != INVALID_HANDLE_VALUE && MakeOutputPipe(outRead, outWrite) && MakeOutputPipe(errRead, errWrite);
  if (made) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    made = ::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                            DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                            folder.empty() ? nullptr : folder.c_str(), &startup, &process) != FALSE;
  }
  const DWORD error = ::GetLastError();
  CloseIfOpen(input);
  CloseIfOpen(outWrite);
  CloseIfOpen(errWrite);
  if (!made) {
    CloseIfOpen(outRead);
    CloseIfOpen(errRead);
    ::SetLastError(error);
    return false;
  }
  ::CloseHandle(process.hThread);
  child.id = process.dwProcessId;
  child.process = reinterpret_cast<intptr_t>(process.hProcess);
  child.output = reinterpret_cast<PipeHandle>(outRead);
  child.error = reinterpret_cast<PipeHandle>(errRead);
  return true;
}

bool WaitChild(const SpawnedChild& child, uint32_t timeoutMs, ChildExit& exit) {
  const HANDLE process = reinterpret_cast<HANDLE>(child.process);
  const DWORD waited = ::WaitForSingleObject(process, timeoutMs);
  if (waited != WAIT_OBJECT_0) {
    if (waited == WAIT_TIMEOUT) ::SetLastError(err::kWaitTimeout);
    return false;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  exit.exited = true;
  exit.exitCode = code;
  exit.signal = 0;
  return true;
}

// A console control event would reach every process of the console, the test's own too.
bool SignalChild(const SpawnedChild&, bool) {
  ::SetLastError(err::kNotSupported);
  return false;
}

void KillChild(const SpawnedChild& child) { ::TerminateProcess(reinterpret_cast<HANDLE>(child.process), 1); }

void ReleaseChild(SpawnedChild& child) {
  if (child.process != -1) ::CloseHandle(reinterpret_cast<HANDLE>(child.process));
  child.process = -1;
}

// Anonymous pipes cannot wait with a time limit, so the pipe is looked into every few
// milliseconds and read only when something is there.
long ReadPipe(PipeHandle pipe, char* buffer, size_t capacity, uint32_t timeoutMs) {
  const HANDLE handle = reinterpret_cast<HANDLE>(pipe);
  for (uint32_t waited = 0;; waited += 5) {
    DWORD available = 0;
    if (!::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return -1;
    if (available > 0) {
      DWORD read = 0;
      const DWORD wanted = available < capacity ? available : static_cast<DWORD>(capacity);
      if (!::ReadFile(handle, buffer, wanted, &read, nullptr)) return -1;
      return static_cast<long>(read);
    }
    if (waited >= timeoutMs) return 0;
    ::Sleep(5);
  }
}

void ClosePipe(PipeHandle pipe) {
  if (pipe != -1) ::CloseHandle(reinterpret_cast<HANDLE>(pipe));
}

}  // namespace qolv::platform::detail
