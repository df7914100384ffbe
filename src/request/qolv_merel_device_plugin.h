#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "qolv_tovu_sdk.h"

namespace qolv {

class PrinterProxyService;
class TcpRequestSession;

// The bridge to the device SDK library: it loads the library and its four entry points once,
// and answers each dispatched request with what the SDK returns.
//
// LoadSDK, InitSDK, UninitSDK and Unload run on the host's thread while no task worker runs;
// InvokeMethodBySDK runs on the task workers, several at once.
class QolvMerelDevicePlugin {
 public:
  // libraryPath: the SDK library's full path (the service's is beside the executable).
  explicit QolvMerelDevicePlugin(std::string libraryPath);
  QolvMerelDevicePlugin(const QolvMerelDevicePlugin&) = delete;
  QolvMerelDevicePlugin& operator=(const QolvMerelDevicePlugin&) = delete;

  // Loads the library and resolves the entry points; true when all four are there. Once the
  // library is loaded, a later call loads nothing again and repeats that outcome.
  bool LoadSDK();
  // True once LoadSDK found all four entry points, until Unload.
  bool Loaded() const { return loaded_; }

  // The SDK's own set-up and release; nothing happens while the SDK is not loaded.
  void InitSDK();
  void UninitSDK();
  // Releases the library; the entry points are forgotten, so no call can reach unloaded code.
  void Unload();

  // Calls the SDK's api with the request's param and sends the SDK's answer through service. The
  // SDK's answer text goes back to the SDK once the answer was sent, whether or not that worked.
  void InvokeMethodBySDK(PrinterProxyService& service, const TcpRequestSession& session, const char* sdkApi);

  const std::string& LibraryPath() const { return path_; }

  // The api names of the SDK calls in progress now, separated by ","; "" when none runs. A stop
  // that cannot wait for a call to return names it with this.
  std::string CallsInProgress() const;

 private:
  class CallInProgress;

  bool ResolveEntryPoints();

  std::string path_;
  std::string fileName_;  // what the log lines call the library
  platform::LibraryHandle module_ = nullptr;
  bool loaded_ = false;
  InitQolvTovuSDKFn init_ = nullptr;
  UninitQolvTovuSDKFn uninit_ = nullptr;
  InvokeQueryMethodFn invoke_ = nullptr;
  FreeQueryResponseFn free_ = nullptr;
  mutable std::mutex callsMutex_;
  std::vector<std::string> calls_;  // one entry per call in progress
};

}  // namespace qolv
