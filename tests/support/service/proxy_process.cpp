#include "support/service/proxy_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/process_info.h"
#include "platform/process_spawn.h"
#include "support/request/fake_sdk_usage.h"
#include "support/request/frame_client.h"
#include "support/utf8_path.h"

namespace qolv::testing {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kPollMs = 100;

fs::path HereFolder() { return PathFromUtf8(platform::ExecutablePath()).parent_path(); }

// The day files of the log folder: the logger names them after the executable and the date.
std::vector<fs::path> DayFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("QolvPrinterProxy-", 0) == 0 && entry.path().extension() == ".log") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFrom(const fs::path& file, uintmax_t offset) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

fs::path BuiltService() {
  return HereFolder() / (std::string("QolvPrinterProxy") + platform::kExecutableSuffix);
}

fs::path BuiltSdk() { return HereFolder() / platform::kSdkLibraryFileName; }

ProgramRun RunBuiltService(const std::string& argument, const fs::path& executable) {
  ProgramRun run;
  platform::ChildProcess child;
  if (!child.Start(Utf8Of(executable), {argument})) return run;
  run.ended = child.Wait(kServicePatienceMs);
  run.exitCode = child.exit().Termination();
  run.output = child.StandardOutput();
  std::erase(run.output, '\r');
  return run;
}

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  path_ = NonAsciiTemporaryPath("proxy-" + std::to_string(platform::CurrentProcessId()) + "-" +
                                std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path BuiltTestService() {
  return HereFolder() / (std::string("qolv_test_service") + platform::kExecutableSuffix);
}

fs::path CopyServiceWithFakeSdk(const ScratchFolder& folder, const fs::path& program) {
  const fs::path copy = folder.path() / BuiltService().filename();
  fs::copy_file(program, copy);
  fs::permissions(copy, fs::perms::owner_all);
  fs::copy_file(PathFromUtf8(FakeSdkPath()), folder.path() / platform::kSdkLibraryFileName);
  return copy;
}

LogWatch::LogWatch(const fs::path& executable) : folder_(executable.parent_path() / "log") {
  for (const fs::path& file : DayFiles(folder_)) {
    std::error_code error;
    startSizes_[file] = fs::file_size(file, error);
  }
}

std::string LogWatch::NewText() const {
  std::string text;
  for (const fs::path& file : DayFiles(folder_)) {
    const auto known = startSizes_.find(file);
    text += ReadFrom(file, known == startSizes_.end() ? 0 : known->second);
  }
  return text;
}

bool LogWatch::WaitFor(const std::string& text) const { return WaitForAny({text}) == 0; }

int LogWatch::WaitForAny(const std::vector<std::string>& texts) const {
  for (uint32_t waited = 0; waited < kServicePatienceMs; waited += kPollMs) {
    const std::string added = NewText();
    for (size_t i = 0; i < texts.size(); ++i) {
      if (added.find(texts[i]) != std::string::npos) return static_cast<int>(i);
    }
    platform::SleepMs(kPollMs);
  }
  return -1;
}

std::string FirstOutOfOrder(const std::string& log, const std::vector<std::string>& texts) {
  size_t from = 0;
  for (const std::string& text : texts) {
    const size_t at = log.find(text, from);
    if (at == std::string::npos) return text;
    from = at + text.size();
  }
  return "";
}

bool ServicePortInUse() { return FrameClient(kServicePort).Connected(); }

ServiceAnswers AskHeartbeatAndPrinterList() {
  ServiceAnswers answers;
  FrameClient client(kServicePort);
  if (!client.Connected()) return answers;
  const std::string frames = Frame(TPMT_HEART_BEAT, "e2e-heartbeat") +
                             Frame(TPMT_REQUEST_API, "e2e-list", R"({"action":"printer.list","param":""})");
  if (!client.Send(frames)) return answers;
  // Four workers may answer in any order.
  int found = 0;
  for (const Answer& answer : client.Read(2)) {
    if (answer.Id() == "e2e-heartbeat") {
      answers.heartbeat = answer;
      ++found;
    } else if (answer.Id() == "e2e-list") {
      answers.list = answer;
      ++found;
    }
  }
  answers.ok = found == 2;
  return answers;
}

std::string StuckSdkCallFrames() {
  return Frame(TPMT_REQUEST_API, "stuck",
               R"({"action":"printer.add","param":"gather=2;delay=120000;text=late"})") +
         Frame(TPMT_REQUEST_API, "beside", R"({"action":"printer.list","param":"gather=2;text=ok"})");
}

std::string LoggedSdkAnswer(const std::string& response) {
  return "QolvMerelDevicePlugin::InvokeMethodBySDK success, method=getLocalPrinterList, response=" +
         response + "\r\n";
}

void ExpectSampleSdkAnswers(const ServiceAnswers& answers, const std::string& logText) {
  EXPECT_EQ(answers.heartbeat.Type(), TPMT_ACK_HEART_BEAT);
  EXPECT_EQ(answers.heartbeat.body, "");
  EXPECT_EQ(answers.list.Type(), TPMT_RESPONSE_API);
  EXPECT_EQ(answers.list.body.rfind("{\"result\":", 0), 0u) << answers.list.body;
  EXPECT_NE(logText.find(LoggedSdkAnswer(answers.list.body)), std::string::npos) << logText;
}

}  // namespace qolv::testing
