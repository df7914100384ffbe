#pragma once
#include <string>

namespace qolv {

// Registers this executable as the service (started by hand, restarted after failures) and
// prints the outcome on standard output. The service is not started.
void InstallService();

// Registers the executable at the given full path the same way, so that a package can write the
// registration its installed executable would make for itself.
void InstallServiceFor(const std::string& executablePath);

// Stops the service if it runs, waiting in one-second steps while it is stopping, then removes
// its registration; prints every step on standard output.
void RemoveService();

}  // namespace qolv
