// ChildProcess on Linux. It forks rather than calling posix_spawn because a traced start must run
// a tracer of its own in the child; the service's own commands go through RunCommand
// (systemd/command_runner.h), which needs none of this.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/process_spawn_detail.h"
#include "platform/system_error.h"

namespace qolv::platform::detail {
namespace {

// The argument and environment arrays are built before the fork: between fork and exec the
// child of a threaded process may only make async-signal-safe calls.
struct ExecImage {
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::vector<char*> argv;
  std::vector<char*> envp;

  void Seal() {
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
  }
};

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || NameOf(o) == NameOf(entry);
    if (!replaced) merged.push_back(entry);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

// Every crash signal and the stop signals start at their default in the child, and none is
// blocked, whatever the test process did with them.
void ResetSignals() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGPIPE, SIGTERM, SIGINT})
    ::sigaction(s, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The tracer half of a traced start: runs the program as a ptrace child, passes every signal
// on, and ends the way the program ended. Runs in a forked child, so async-signal-safe only.
[[noreturn]] void RunUnderTracer(const ExecImage& image) {
  const pid_t tracee = ::fork();
  if (tracee < 0) ::_exit(ChildProcess::kExecFailed);
  if (tracee == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(ChildProcess::kTracerUnavailable);
    ::execve(image.argv[0], image.argv.data(), image.envp.data());
    ::_exit(ChildProcess::kExecFailed);
  }
  bool execStop = true;
  for (;;) {
    int status = 0;
    if (::waitpid(tracee, &status, 0) < 0) {
      if (errno == EINTR) continue;
      ::_exit(ChildProcess::kExecFailed);
    }
    if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
      const int s = WTERMSIG(status);
      ::signal(s, SIG_DFL);
      ::kill(::getpid(), s);
      ::_exit(128 + s);
    }
    if (!WIFSTOPPED(status)) continue;
    int pass = WSTOPSIG(status);
    if (execStop && pass == SIGTRAP) {
      // The stop after exec is ours, not the program's. From here on the program dies with us.
      execStop = false;
      pass = 0;
      ::ptrace(PTRACE_SETOPTIONS, tracee, nullptr, reinterpret_cast<void*>(PTRACE_O_EXITKILL));
    }
    ::ptrace(PTRACE_CONT, tracee, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(pass)));
  }
}

void CloseBoth(int pipe[2]) {
  if (pipe[0] >= 0) ::close(pipe[0]);
  if (pipe[1] >= 0) ::close(pipe[1]);
}

}  // namespace

bool SpawnChild(const std::string& program, const std::vector<std::string>& arguments,
                const SpawnOptions& options, SpawnedChild& child) {
  ExecImage image;
  image.arguments.push_back(program);
  image.arguments.insert(image.arguments.end(), arguments.begin(), arguments.end());
  image.environment = MergedEnvironment(options.environment);
  image.Seal();
  const char* workingDirectory =
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    posix::SetSystemErrorFromErrno();
    if (input >= 0) ::close(input);
    CloseBoth(out);
    CloseBoth(err);
    return false;
  }

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(input, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (workingDirectory != nullptr && ::chdir(workingDirectory) != 0) ::_exit(ChildProcess::kExecFailed);
    // Crashing children are the point of many tests; they leave no core files behind.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ResetSignals();
    if (options.underTracer) RunUnderTracer(image);
    ::execve(image.argv[0], image.argv.data(), image.envp.data());
    ::_exit(ChildProcess::kExecFailed);
  }
  const int forkError = errno;
  ::close(input);
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    SetSystemError(posix::FromErrno(forkError));
    return false;
  }
  child.id = static_cast<uint32_t>(pid);
  child.process = pid;
  child.output = out[0];
  child.error = err[0];
  return true;
}

bool WaitChild(const SpawnedChild& child, uint32_t timeoutMs, ChildExit& exit) {
  const uint32_t start = TickCount();
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(static_cast<pid_t>(child.process), &status, WNOHANG);
    if (done == static_cast<pid_t>(child.process)) {
      exit.exited = WIFEXITED(status);
      exit.exitCode = exit.exited ? static_cast<uint32_t>(WEXITSTATUS(status)) : 0;
      exit.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      return true;
    }
    if (done < 0 && errno != EINTR) {
      posix::SetSystemErrorFromErrno();
      return false;
    }
    if (TickCount() - start >= timeoutMs) {
      SetSystemError(err::kWaitTimeout);
      return false;
    }
    SleepMs(10);
  }
}

bool SignalChild(const SpawnedChild& child, bool interrupt) {
  if (::kill(static_cast<pid_t>(child.process), interrupt ? SIGINT : SIGTERM) == 0) return true;
  posix::SetSystemErrorFromErrno();
  return false;
}

void KillChild(const SpawnedChild& child) { ::kill(static_cast<pid_t>(child.process), SIGKILL); }

// A reaped child leaves nothing to close on Linux.
void ReleaseChild(SpawnedChild& child) { child.process = -1; }

long ReadPipe(PipeHandle pipe, char* buffer, size_t capacity, uint32_t timeoutMs) {
  pollfd p{static_cast<int>(pipe), POLLIN, 0};
  const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
  if (ready < 0) return -1;
  const ssize_t n = ::read(static_cast<int>(pipe), buffer, capacity);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
  return -1;
}

void ClosePipe(PipeHandle pipe) {
  if (pipe >= 0) ::close(static_cast<int>(pipe));
}

}  // namespace qolv::platform::detail
