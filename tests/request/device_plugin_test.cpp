#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/dynamic_library.h"
#include "request/printer_proxy_service.h"
#include "request/qolv_merel_device_plugin.h"
#include "request/tcp_request_session.h"
#include "support/request/fake_sdk_usage.h"
#include "support/request/frames.h"
#include "support/request/log_capture.h"

namespace qolv {
namespace {

using testing::FakeSdkPath;
using testing::FakeSdkUsage;
using testing::kErrorTag;
using testing::LibraryName;

TcpRequestSession Request(const std::string& param) {
  const std::string header = testing::Header(TPMT_REQUEST_API, "req", 0);
  const std::string body = R"({"param":")" + param + "\"}";
  TcpRequestSession session(4321, 6, header.data(), body.data(), static_cast<uint32_t>(body.size()));
  EXPECT_TRUE(session.Parse());
  return session;
}

TEST(DevicePlugin, LoadsOnceAndPassesInitAndUninitToTheSdk) {
  FakeSdkUsage usage;
  testing::LogCapture log;
  const std::string path = FakeSdkPath();
  QolvMerelDevicePlugin plugin(path);
  EXPECT_FALSE(plugin.Loaded());
  ASSERT_TRUE(plugin.LoadSDK());
  EXPECT_TRUE(plugin.LoadSDK());
  EXPECT_TRUE(plugin.Loaded());
  EXPECT_EQ(log.CountStartingWith(kErrorTag, "LoadLibrary " + LibraryName("FakeQolvSdk") +
                                                 " success, path=" + path + ", error="),
            1);

  plugin.InitSDK();
  plugin.UninitSDK();
  EXPECT_EQ(usage.Counters().initCalls, 1);
  EXPECT_EQ(usage.Counters().uninitCalls, 1);
  plugin.Unload();
  EXPECT_FALSE(plugin.Loaded());
  plugin.InitSDK();
  EXPECT_EQ(usage.Counters().initCalls, 1);
}

TEST(DevicePlugin, AMissingLibraryOrEntryPointFailsTheLoadAndKeepsTheSdkUntouched) {
  testing::LogCapture log;
  const std::string missing = platform::PathBesideExecutable(LibraryName("NoSuchSdk").c_str());
  QolvMerelDevicePlugin absent(missing);
  EXPECT_FALSE(absent.LoadSDK());
  EXPECT_EQ(log.Count(kErrorTag,
                      "LoadLibrary " + LibraryName("NoSuchSdk") + " error, path=" + missing + ", error=126"),
            1);
  absent.InitSDK();
  absent.UninitSDK();

  ::qolv::testing::SdkLibrary partialCounter(LibraryName("PartialQolvSdk"));
  const auto calls = partialCounter.Symbol<int (*)()>("PartialSdkCalls");
  ASSERT_NE(calls, nullptr) << partialCounter.problem();
  QolvMerelDevicePlugin partial(platform::PathBesideExecutable(LibraryName("PartialQolvSdk").c_str()));
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(partial.LoadSDK());
  EXPECT_FALSE(partial.LoadSDK());
  EXPECT_EQ(
      ::testing::internal::GetCapturedStdout(),
      "DevicePlugin, LoadLibrary " + LibraryName("PartialQolvSdk") + " error, no found InvokeQueryMethod\n");
  EXPECT_FALSE(partial.Loaded());
  partial.InitSDK();
  partial.UninitSDK();
  EXPECT_EQ(calls(), 0);
  EXPECT_EQ(log.CountStartingWith(kErrorTag, "LoadLibrary " + LibraryName("PartialQolvSdk")), 0);
  partial.Unload();
}

// The service's server is not started, so every answer fails to send.
TEST(DevicePlugin, HandsEveryAnswerTextBackOnceAlsoWhenTheSendFails) {
  FakeSdkUsage usage;
  testing::LogCapture log;
  PrinterProxyService service(FakeSdkPath());
  QolvMerelDevicePlugin& plugin = service.Plugin();
  ASSERT_TRUE(plugin.LoadSDK());

  plugin.InvokeMethodBySDK(service, Request("text=hello"), "getLocalPrinterList");
  EXPECT_EQ(
      log.Count(
          kErrorTag,
          "QolvMerelDevicePlugin::InvokeMethodBySDK success, method=getLocalPrinterList, response=hello"),
      1);
  plugin.InvokeMethodBySDK(service, Request("empty"), "addPrinterProxy");
  plugin.InvokeMethodBySDK(service, Request("null"), "initPrinterProxy");
  EXPECT_EQ(log.Count(kErrorTag,
                      "QolvMerelDevicePlugin::InvokeMethodBySDK failed, malloc memory exception, "
                      "method=initPrinterProxy"),
            1);
  plugin.InvokeMethodBySDK(service, Request("refuse"), "deletePrinterProxy");
  EXPECT_EQ(
      log.Count(kErrorTag,
                "QolvMerelDevicePlugin::InvokeMethodBySDK failed, unknow api, method=deletePrinterProxy"),
      1);
  EXPECT_EQ(log.Count(kErrorTag, "TcpServer Send failed, msgid=req, msgtype=100, port=4321"), 3)
      << "text, empty text and the null answer's envelope; the refusal sends nothing";

  const FakeSdkCounters counters = usage.Counters();
  EXPECT_EQ(counters.calls, 4);
  EXPECT_EQ(counters.refused, 1);
  EXPECT_EQ(counters.frees, 2);
  EXPECT_EQ(counters.strayFrees, 0);
  EXPECT_EQ(counters.outstanding, 0);
  plugin.Unload();
}

TEST(DevicePlugin, WithoutTheSdkAKnownActionIsAnsweredAsUnavailable) {
  testing::LogCapture log;
  PrinterProxyService service(platform::PathBesideExecutable(LibraryName("NoSuchSdk").c_str()));
  EXPECT_FALSE(service.Plugin().LoadSDK());
  service.Plugin().InvokeMethodBySDK(service, Request(""), "getLocalPrinterList");

  const auto lines = log.Lines();
  size_t unavailable = lines.size(), sent = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].message ==
        "QolvMerelDevicePlugin::InvokeMethodBySDK failed, sdk not loaded, method=getLocalPrinterList")
      unavailable = i;
    if (lines[i].message == "TcpServer Send failed, msgid=req, msgtype=100, port=4321") sent = i;
  }
  ASSERT_LT(unavailable, lines.size());
  ASSERT_LT(sent, lines.size());
  EXPECT_LT(unavailable, sent) << "the line comes before the answer";
}

}  // namespace
}  // namespace qolv
