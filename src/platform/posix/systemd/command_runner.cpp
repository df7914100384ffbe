#include "platform/posix/systemd/command_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/system_error.h"

extern char** environ;

namespace qolv::platform::posix {

int RunCommand(const std::vector<std::string>& arguments, std::string* output) {
  if (arguments.empty()) {
    SetSystemError(err::kInvalidParameter);
    return -1;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    SetSystemErrorFromErrno();
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawnError = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawnError != 0) {
    ::close(pipeFds[0]);
    SetSystemError(FromErrno(spawnError));
    return -1;
  }

  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      if (output != nullptr) output->append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeFds[0]);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      SetSystemErrorFromErrno();
      return -1;
    }
  }
  if (!WIFEXITED(status)) {
    SetSystemError(err::kInvalidData);
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace qolv::platform::posix
