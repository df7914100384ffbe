#include "support/service/systemd/shell.h"

#include <cstdlib>

namespace qolv::test {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

int RunShell(const std::string& command) {
  // std::system gives the wait status: the exit code sits in the second byte after a normal exit.
  const int status = std::system(command.c_str());
  if (status < 0 || (status & 0x7f) != 0) return -1;
  return (status >> 8) & 0xff;
}

RunResult RunTestServiceWith(const std::string& environment, const std::filesystem::path& program,
                             const std::string& arguments) {
  TempFolder folder;
  const std::filesystem::path output = folder.path() / "stdout";
  RunResult result;
  result.exitCode = RunShell(environment + " timeout -s KILL 120 " + ShellQuote(program.string()) + " " +
                             arguments + " > " + ShellQuote(output.string()) + " 2>/dev/null < /dev/null");
  result.output = ReadText(output);
  return result;
}

RunResult RunTestService(const std::string& arguments) {
  return RunTestServiceWith("", TestServicePath(), arguments);
}

}  // namespace qolv::test
