#include "request/qolv_merel_device_plugin.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "log/logger.h"
#include "platform/process_info.h"
#include "platform/system_error.h"
#include "request/printer_proxy_service.h"
#include "request/tcp_request_session.h"

namespace qolv {
namespace {

std::string FileNameOf(const std::string& path) {
  const size_t separator = path.find_last_of(platform::kPathSeparator);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

template <typename Function>
bool Resolve(platform::LibraryHandle module, const char* name, Function& entry) {
  entry = reinterpret_cast<Function>(platform::FindLibrarySymbol(module, name));
  return entry != nullptr;
}

}  // namespace

// Keeps the api of one SDK call in the list of calls in progress for as long as it runs.
class QolvMerelDevicePlugin::CallInProgress {
 public:
  CallInProgress(QolvMerelDevicePlugin& plugin, const char* api) : plugin_(plugin) {
    std::lock_guard lock(plugin_.callsMutex_);
    plugin_.calls_.emplace_back(api);
    api_ = plugin_.calls_.back();
  }
  ~CallInProgress() {
    std::lock_guard lock(plugin_.callsMutex_);
    plugin_.calls_.erase(std::find(plugin_.calls_.begin(), plugin_.calls_.end(), api_));
  }
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;

 private:
  QolvMerelDevicePlugin& plugin_;
  std::string api_;
};

QolvMerelDevicePlugin::QolvMerelDevicePlugin(std::string libraryPath)
    : path_(std::move(libraryPath)), fileName_(FileNameOf(path_)) {}

bool QolvMerelDevicePlugin::LoadSDK() {
  if (module_ != nullptr) return loaded_;
  module_ = platform::LoadDynamicLibrary(path_.c_str());
  if (module_ == nullptr) {
    // Read before anything else can overwrite it, the logger's first use included.
    const auto loadError = static_cast<int>(platform::GetSystemError());
    Logger::Instance().Print(DBG_ERROR, "LoadLibrary %s error, path=%s, error=%d", fileName_.c_str(),
                             path_.c_str(), loadError);
    return false;
  }
  if (!ResolveEntryPoints()) return false;
  loaded_ = true;
  const auto lastError = static_cast<int>(platform::GetSystemError());
  Logger::Instance().Print(DBG_ERROR, "LoadLibrary %s success, path=%s, error=%d", fileName_.c_str(),
                           path_.c_str(), lastError);
  return true;
}

bool QolvMerelDevicePlugin::ResolveEntryPoints() {
  const char* missing = nullptr;
  if (!Resolve(module_, "InitQolvTovuSDK", init_)) {
    missing = "InitQolvTovuSDK";
  } else if (!Resolve(module_, "UninitQolvTovuSDK", uninit_)) {
    missing = "UninitQolvTovuSDK";
  } else if (!Resolve(module_, "InvokeQueryMethod", invoke_)) {
    missing = "InvokeQueryMethod";
  } else if (!Resolve(module_, "FreeQueryResponse", free_)) {
    missing = "FreeQueryResponse";
  }
  if (missing == nullptr) return true;
  // Operators read this on the console of a manual start, so it goes to standard output.
  std::printf("DevicePlugin, LoadLibrary %s error, no found %s\n", fileName_.c_str(), missing);
  std::fflush(stdout);
  return false;
}

void QolvMerelDevicePlugin::InitSDK() {
  if (loaded_) init_();
}

void QolvMerelDevicePlugin::UninitSDK() {
  if (loaded_) uninit_();
}

void QolvMerelDevicePlugin::Unload() {
  if (module_ == nullptr) return;
  platform::UnloadDynamicLibrary(module_);
  module_ = nullptr;
  loaded_ = false;
  init_ = nullptr;
  uninit_ = nullptr;
  invoke_ = nullptr;
  free_ = nullptr;
}

std::string QolvMerelDevicePlugin::CallsInProgress() const {
  std::lock_guard lock(callsMutex_);
  std::string names;
  for (const std::string& api : calls_) names += (names.empty() ? "" : ",") + api;
  return names;
}

void QolvMerelDevicePlugin::InvokeMethodBySDK(PrinterProxyService& service, const TcpRequestSession& session,
                                              const char* sdkApi) {
  if (!loaded_) {
    Logger::Instance().Print(
        DBG_ERROR, "QolvMerelDevicePlugin::InvokeMethodBySDK failed, sdk not loaded, method=%s", sdkApi);
    service.SendErrorResponse(session, 3, "sdk unavailable");
    return;
  }
  char* response = nullptr;
  bool accepted = false;
  {
    const CallInProgress call(*this, sdkApi);
    accepted = invoke_(sdkApi, session.Param().c_str(), &response);
  }
  if (!accepted) {
    Logger::Instance().Print(
        DBG_ERROR, "QolvMerelDevicePlugin::InvokeMethodBySDK failed, unknow api, method=%s", sdkApi);
    return;
  }
  if (response == nullptr) {
    service.SendErrorResponse(session, 1, "malloc memory exception");
    Logger::Instance().Print(
        DBG_ERROR, "QolvMerelDevicePlugin::InvokeMethodBySDK failed, malloc memory exception, method=%s",
        sdkApi);
    return;
  }
  // The SDK owns the text; it gets it back however the sending ends.
  const std::unique_ptr<char, FreeQueryResponseFn> owned(response, free_);
  Logger::Instance().Print(DBG_ERROR,
                           "QolvMerelDevicePlugin::InvokeMethodBySDK success, method=%s, response=%s", sdkApi,
                           response);
  service.SendResponse(session, response);
}

}  // namespace qolv
