#include "support/sdk/sdk_library.h"

namespace qolv::testing {

SdkLibrary::SdkLibrary(const std::string& fileName) {
  const std::string path = platform::PathBesideExecutable(fileName.c_str());
  library_ = platform::LoadDynamicLibrary(path.c_str(), &problem_);
  if (library_ == nullptr) {
    problem_ = path + ": " + problem_;
    return;
  }
  init = Symbol<InitQolvTovuSDKFn>("InitQolvTovuSDK");
  uninit = Symbol<UninitQolvTovuSDKFn>("UninitQolvTovuSDK");
  invoke = Symbol<InvokeQueryMethodFn>("InvokeQueryMethod");
  free = Symbol<FreeQueryResponseFn>("FreeQueryResponse");
  if (!ready()) problem_ = path + ": an entry point is missing";
}

SdkLibrary::~SdkLibrary() { platform::UnloadDynamicLibrary(library_); }

SdkLibrary::Reply SdkLibrary::Call(const char* apiName, const char* param) const {
  Reply reply;
  char* response = nullptr;
  reply.accepted = invoke(apiName, param, &response);
  if (response != nullptr) {
    reply.text = std::string(response);
    free(response);
  }
  return reply;
}

}  // namespace qolv::testing
