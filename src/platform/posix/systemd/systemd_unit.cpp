#include "platform/posix/systemd/systemd_unit.h"

namespace qolv::platform::posix {
namespace {

// systemd expands "%" specifiers, "$" variables and "\" escapes in a command line; doubling
// them keeps a path that contains them as it is.
std::string EscapeCommandLine(const std::string& commandLine) {
  std::string escaped;
  for (const char c : commandLine) {
    if (c == '%' || c == '$' || c == '\\') escaped.push_back(c);
    escaped.push_back(c);
  }
  return escaped;
}

std::string Duration(uint32_t milliseconds) {
  if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000);
  return std::to_string(milliseconds) + "ms";
}

}  // namespace

bool FitsOnUnitLine(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

bool CommandLineIsOneWord(const std::string& commandLine) {
  const bool quoted = commandLine.size() >= 2 && commandLine.front() == '"' && commandLine.back() == '"';
  const std::string word = quoted ? commandLine.substr(1, commandLine.size() - 2) : commandLine;
  for (const char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\'' || (c == ' ' && !quoted)) return false;
  }
  return !word.empty();
}

std::string SystemdUnitText(const SystemdUnit& unit) {
  std::string text = "# " + unit.displayName + "\n[Unit]\nDescription=";
  text += unit.description.empty() ? unit.displayName : unit.description;
  text += "\n";
  if (unit.restartCount > 0) {
    text += "StartLimitIntervalSec=" + std::to_string(unit.resetPeriodSeconds) + "\n";
    text += "StartLimitBurst=" + std::to_string(unit.restartCount) + "\n";
  }
  text += "\n[Service]\nType=notify\nExecStart=" + EscapeCommandLine(unit.commandLine) + "\n";
  if (unit.restartCount > 0) {
    text += "Restart=on-failure\nRestartSec=" + Duration(unit.restartDelayMs) + "\n";
  }
  return text;
}

}  // namespace qolv::platform::posix
