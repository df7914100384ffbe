#include "service/crash_guard.h"

#include <atomic>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/minidump_writer.h"
#include "platform/process_info.h"
#include "platform/system_error.h"
#include "service/crash_text.h"

namespace qolv {
namespace {

constexpr int32_t kContinueSearch = 0;

// The crash flag. It is taken with one atomic exchange, so of two threads crashing at the same
// moment only one writes the dump; a plain test-then-set would let both write the same file.
enum CrashState : uint32_t { kNoCrash = 0, kWriting = 1, kWritten = 2 };
std::atomic<uint32_t> g_crashState{kNoCrash};
std::atomic<uint32_t> g_writerThread{0};

// How long a second crashing thread waits for the first one's dump (Wine's writer alone takes
// several seconds).
constexpr uint32_t kWaitStepMs = 100;
constexpr uint32_t kWaitSteps = 600;

// The executable's folder, read once outside any crash (Install reads it before the filter goes
// in), because finding it allocates.
const char* DumpDirectory() {
  struct Folder {
    char text[kDumpPathCapacity];
  };
  static const Folder folder = [] {
    Folder found{};
    const std::string executable = platform::ExecutablePath();
    const size_t cut = executable.find_last_of(platform::kPathSeparator);
    if (cut != std::string::npos && cut < sizeof found.text) std::memcpy(found.text, executable.data(), cut);
    return found;
  }();
  return folder.text;
}

void WriteDump(platform::CrashContext* exception) {
  // Static, to keep the crash path's stack small; only the one thread that took the crash flag
  // gets here.
  static char path[kDumpPathCapacity];
  if (!DumpFileName(path, sizeof path)) return;
  const platform::FileHandle file = platform::CreateDumpFile(path);
  if (file == platform::kInvalidFile) return;
  // When the writer cannot be loaded the empty file stays, as a trace of the crash.
  platform::MinidumpWriter writer;
  switch (writer.Load()) {
    case platform::MinidumpWriter::LoadResult::kNoLibrary:
      break;
    case platform::MinidumpWriter::LoadResult::kNoFunction:
      SendCrashText("GetProcAddress MiniDumpWriteDump failed.\n");
      break;
    case platform::MinidumpWriter::LoadResult::kReady:
      if (writer.Write(file, exception)) {
        SendCrashText("Process has crashed.\nMinidump was saved to: \n\\%s\n", {path});
      } else {
        SendCrashText("Minidump was saved failed: %hu.\n", {platform::GetSystemError()});
      }
      break;
  }
  writer.Unload();
  platform::CloseDumpFile(file);
}

// A crash on the writing thread itself (inside the writer) must not wait for itself.
void WaitForOtherWriter(uint32_t self) {
  for (uint32_t step = 0; step < kWaitSteps; ++step) {
    if (g_crashState.load() != kWriting || g_writerThread.load() == self) return;
    platform::SleepMs(kWaitStepMs);
  }
}

}  // namespace

void CrashGuard::Install() {
  const platform::HardeningStep heap = platform::EnableHeapTerminationOnCorruption();
  if (heap.exists) SendCrashText("HeapSetInformation, bRet: <%lu, %lu>.\n", {heap.result, heap.error});

  const platform::HardeningStep dep = platform::EnableDataExecutionPrevention();
  if (dep.exists) SendCrashText("SetProcessDEPPolicy, bRet: <%lu, %lu>.\n", {dep.result, dep.error});
  uint32_t bRet = dep.result;

  (void)DumpDirectory();
  crashStack_.emplace();
  previousFilter_ = platform::InstallCrashFilter(CrashFilter);

  using Outcome = platform::ExceptionPolicyStep::Outcome;
  const platform::ExceptionPolicyStep policy = platform::StopSwallowingCallbackExceptions();
  if (policy.outcome == Outcome::kNoSystemModule) SendCrashText("GetModuleHandle faled.\n");
  if (policy.outcome != Outcome::kCalled) return;
  if (policy.readSucceeded) {
    bRet = policy.setResult;
    SendCrashText("GetProcessUserModeExceptionPolicy, bRet: %lu.\n", {bRet});
  }
  SendCrashText("SetProcessUserModeExceptionPolicy, bRet: %lu, dwFlags: %lu.\n", {bRet, policy.flags});
}

CrashGuard::~CrashGuard() {
  if (previousFilter_) platform::RestoreCrashFilter(previousFilter_);
}

int32_t CrashFilter(platform::CrashContext* exception) {
  if (platform::IsDebuggerAttached()) {
    SendCrashText("IsDebuggerPresent return TRUE.\n");
    return kContinueSearch;
  }
  const uint32_t self = platform::CurrentThreadId();
  uint32_t expected = kNoCrash;
  if (!g_crashState.compare_exchange_strong(expected, kWriting)) {
    SendCrashText("Current function has crashed.Shit.\n");
    WaitForOtherWriter(self);
    return kContinueSearch;
  }
  g_writerThread.store(self);
  WriteDump(exception);
  g_crashState.store(kWritten);
  return kContinueSearch;
}

bool DumpFileName(char* path, size_t capacity) {
  // Without the executable's folder the name would point at the root of the file system.
  if (DumpDirectory()[0] == '\0') return false;
  const platform::LocalTime now = platform::CrashSafeLocalNow();
  char stamp[11];
  const char separator[2] = {platform::kPathSeparator, 0};
  return FormatCrashText(stamp, sizeof stamp, "%02d%02d%02d%02d%02d",
                         {now.month, now.day, now.hour, now.minute, now.second}) &&
         FormatCrashText(path, capacity, "%s%swindev__%s.dmp", {DumpDirectory(), separator, stamp});
}

}  // namespace qolv
