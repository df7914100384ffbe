#pragma once
// An SDK library loaded from the test program's folder, with its four entry points.
#include <optional>
#include <string>

#include "platform/dynamic_library.h"
#include "qolv_tovu_sdk.h"

namespace qolv::testing {

class SdkLibrary {
 public:
  // fileName: a library in the folder of the test program, e.g. platform::kSdkLibraryFileName.
  explicit SdkLibrary(const std::string& fileName);
  ~SdkLibrary();
  SdkLibrary(const SdkLibrary&) = delete;
  SdkLibrary& operator=(const SdkLibrary&) = delete;

  // True when the library and all four entry points were found.
  bool ready() const { return init && uninit && invoke && free; }
  // Why the library could not be loaded, for test messages.
  const std::string& problem() const { return problem_; }

  template <typename Function>
  Function Symbol(const char* name) const {
    return reinterpret_cast<Function>(platform::FindLibrarySymbol(library_, name));
  }

  struct Reply {
    bool accepted = false;
    std::optional<std::string> text;  // the response text, absent when the SDK handed out none
  };
  // One InvokeQueryMethod call; a response text is copied and handed back at once.
  Reply Call(const char* apiName, const char* param) const;

  InitQolvTovuSDKFn init = nullptr;
  UninitQolvTovuSDKFn uninit = nullptr;
  InvokeQueryMethodFn invoke = nullptr;
  FreeQueryResponseFn free = nullptr;

 private:
  platform::LibraryHandle library_ = nullptr;
  std::string problem_;
};

}  // namespace qolv::testing
