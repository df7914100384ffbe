#pragma once
// Helpers for running the built service executable as a process and talking to it on port 9199.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/request/frames.h"

namespace qolv::testing {

inline constexpr uint16_t kServicePort = 9199;
// How long the tests wait for anything the service does; generous for a slow, shared machine.
inline constexpr uint32_t kServicePatienceMs = 60000;

// The built service executable and the sample SDK library, beside this test program.
std::filesystem::path BuiltService();
std::filesystem::path BuiltSdk();

// A run of the built executable to its end.
struct ProgramRun {
  bool ended = false;
  uint32_t exitCode = 0;
  std::string output;  // standard output, without the carriage returns of the text mode
};
// Runs the built executable (or a copy of it) with one argument and waits for its end (it is
// killed when it takes longer than the tests' patience).
ProgramRun RunBuiltService(const std::string& argument,
                           const std::filesystem::path& executable = BuiltService());

// A fresh folder under the system's temporary folder, removed with its contents. Its name holds
// characters that no ANSI code page holds, as an install folder's may.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The test service program, beside this test program.
std::filesystem::path BuiltTestService();

// Copies the program (the built executable unless given) into folder under the executable's name,
// with the fake SDK beside it under the SDK library's name; the copy's path.
std::filesystem::path CopyServiceWithFakeSdk(const ScratchFolder& folder,
                                             const std::filesystem::path& program = BuiltService());

// What the service adds to the day files in the log folder beside an executable from the moment
// the watch is made (the files may already hold lines of earlier runs).
class LogWatch {
 public:
  explicit LogWatch(const std::filesystem::path& executable);
  // The added bytes of every day file, oldest file first.
  std::string NewText() const;
  // Waits until the added text holds text; false when it did not come in time.
  bool WaitFor(const std::string& text) const;
  // Waits until the added text holds one of texts; the index of the first found, or -1 when
  // none came in time.
  int WaitForAny(const std::vector<std::string>& texts) const;

 private:
  std::filesystem::path folder_;
  std::map<std::filesystem::path, uintmax_t> startSizes_;
};

// The log lines that tell whether the service listens on port 9199 or could not take it.
inline constexpr char kListeningLine[] = "TcpService OnPrepareListen: address=0.0.0.0; port=9199\r\n";
inline constexpr char kStartFailedLine[] = "TcpService StartFailed: error=";

// "" when each text occurs in log after the one before it, otherwise the first one that does not.
std::string FirstOutOfOrder(const std::string& log, const std::vector<std::string>& texts);

// True when a server answers on 127.0.0.1:9199 already: the port belongs to another program.
bool ServicePortInUse();

// A heartbeat and a printer.list request sent on one connection to 127.0.0.1:9199, and their
// answers; ok is false when the two answers did not come.
struct ServiceAnswers {
  bool ok = false;
  Answer heartbeat;
  Answer list;
};
ServiceAnswers AskHeartbeatAndPrinterList();

// Two requests for the fake SDK on one connection: a printer.add it holds for two minutes, and a
// printer.list it answers "ok" only while the first is inside the SDK with it, so that answer
// proves the stuck call runs.
std::string StuckSdkCallFrames();

// The SDK's answer as the service logs it, for comparison with what the client got.
std::string LoggedSdkAnswer(const std::string& response);

// Expects the heartbeat's empty acknowledgement and, for printer.list, the sample SDK's own
// answer byte for byte as the SDK handed it over, which the log must hold too.
void ExpectSampleSdkAnswers(const ServiceAnswers& answers, const std::string& logText);

}  // namespace qolv::testing
