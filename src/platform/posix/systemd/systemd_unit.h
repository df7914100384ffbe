#pragma once
#include <cstdint>
#include <string>

namespace qolv::platform::posix {

// The settings of a service as its systemd unit carries them.
struct SystemdUnit {
  std::string displayName;
  std::string description;  // empty until set: the display name stands in
  std::string commandLine;  // the executable's path, quoted when it has a blank
  uint32_t resetPeriodSeconds = 0;
  uint32_t restartCount = 0;  // 0: no restart on failure
  uint32_t restartDelayMs = 0;
};

// The unit file's text. The service is started by hand only (no [Install] section) and tells
// systemd that it is ready through the notify socket.
std::string SystemdUnitText(const SystemdUnit& unit);

// True when a text can stand on one line of a unit file.
bool FitsOnUnitLine(const std::string& text);
// Whether systemd reads the command line back as the one word it is: a path, wrapped in double
// quotes when it holds blanks. Other whitespace and quote characters of the path's own would
// split it or end the quoting.
bool CommandLineIsOneWord(const std::string& commandLine);

}  // namespace qolv::platform::posix
