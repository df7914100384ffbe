// Running children through the Windows command interpreter.
#include <cstdlib>
#include <string>

#include "support/service/test_service_runner.h"

namespace qolv::test {

RunResult RunTestService(const std::string& arguments) {
  TempFolder folder;
  const std::filesystem::path output = folder.path() / "stdout.txt";
  // cmd /c drops the first and the last quote of a line that begins with one, so the whole line
  // is wrapped in one more pair.
  const std::string command =
      "\"\"" + TestServicePath().string() + "\" " + arguments + " > \"" + output.string() + "\"\"";
  RunResult result;
  result.exitCode = std::system(command.c_str());
  // Standard output is in text mode, which writes each newline as CR LF; the texts are
  // compared in their written form.
  for (const char c : ReadText(output)) {
    if (c != '\r') result.output.push_back(c);
  }
  return result;
}

}  // namespace qolv::test
