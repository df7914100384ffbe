#pragma once
// Starting a child process and watching it end, for end-to-end tests and tools: arguments, an
// environment, a working folder, the child's standard output and error, its exit code or the
// signal that ended it, and a time limit on every wait.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qolv::platform {

#if defined(_WIN32)
inline constexpr const char* kExecutableSuffix = ".exe";
// A child that touched an invalid address ends with the exception code as its exit code.
inline constexpr uint32_t kAccessViolationTermination = 0xC0000005u;
// A child whose crash guard took a fatal end without an exception (see crash_handler.h) ends
// with STATUS_FATAL_APP_EXIT.
inline constexpr uint32_t kFatalEndTermination = 0x40000015u;
#else
inline constexpr const char* kExecutableSuffix = "";
// A child that touched an invalid address is ended by SIGSEGV.
inline constexpr uint32_t kAccessViolationTermination = 11;
// A child whose crash guard took a fatal end without an exception (std::terminate, abort) is
// ended by SIGABRT.
inline constexpr uint32_t kFatalEndTermination = 6;
#endif

struct SpawnOptions {
  // "NAME=value" entries added to the inherited environment; an entry replaces an inherited
  // variable of the same name.
  std::vector<std::string> environment;
  // The child's working folder; empty: the caller's.
  std::string workingDirectory;
  // Linux: the child runs under a tracer (a helper process that ptrace-attaches it and passes
  // every signal on), so it sees a debugger attached. The helper takes on the child's exit code
  // or ending signal. Windows: not supported (Start fails with 50), because a debugger there
  // takes unhandled exceptions before any filter runs.
  bool underTracer = false;
};

// How a child ended.
struct ChildExit {
  bool exited = false;    // it ended by itself (or by TerminateProcess) with exitCode
  uint32_t exitCode = 0;  // on Windows the full 32-bit code, e.g. 0xC0000005 after a crash
  int signal = 0;         // Linux: the signal that ended it; 0 otherwise

  // The exit code, or the ending signal's number.
  uint32_t Termination() const { return exited ? exitCode : static_cast<uint32_t>(signal); }
};

class ChildProcess {
 public:
  // Exit code of a child that was to run under a tracer but could not be traced (ptrace is not
  // permitted here); tests skip on it.
  static constexpr uint32_t kTracerUnavailable = 125;
  // Exit code of a child whose program could not be started after the process was made.
  static constexpr uint32_t kExecFailed = 127;

  ChildProcess();
  // A child still running is killed and waited for.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program (a full path) with arguments (not counting the program itself). Standard
  // input is empty; standard output and error are collected. False with the system error set
  // when the child could not be made; a program that cannot be run ends with kExecFailed.
  bool Start(const std::string& program, const std::vector<std::string>& arguments,
             const SpawnOptions& options = {});

  // Waits up to timeoutMs for the child to end; true once it has ended. After that the exit
  // status and the complete output are available.
  bool Wait(uint32_t timeoutMs);

  // Asks the child to stop: Linux SIGTERM (interrupt: SIGINT; a traced child's tracer gets it and
  // takes the child with it). Windows: not supported (false, system error 50). False when no
  // child runs.
  bool RequestStop(bool interrupt = false);

  // Ends the child at once (SIGKILL / TerminateProcess with exit code 1). Ending is seen by Wait.
  void Kill();

  uint32_t id() const;
  const ChildExit& exit() const;
  // What the child wrote so far; complete once Wait returned true.
  std::string StandardOutput() const;
  std::string StandardError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qolv::platform
