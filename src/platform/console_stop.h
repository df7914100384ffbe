#pragma once
// Stop requests that reach a program run from a console or a script: SIGTERM and SIGINT on
// Linux; Ctrl-C, Ctrl-Break and the console's close on Windows. Meant for tools and benchmark
// servers; the service has its own control path.
namespace qolv::platform {

// Installs the handlers; false with the system error set when they could not be installed.
bool WatchConsoleStopRequests();
// True once a stop request has arrived since WatchConsoleStopRequests.
bool ConsoleStopRequested();

// True when the standard input is a pipe, a socket or a terminal, whose end a parent or a user
// can signal; false for the null device, a file or no input at all, which end at once or never.
bool StandardInputCanSignalEnd();

}  // namespace qolv::platform
