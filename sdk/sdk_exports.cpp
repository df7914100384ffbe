// The library's C entry points over the SDK's table and api calls.
#include <cstdlib>

#include "qolv_tovu_sdk.h"
#include "sdk_answer.h"
#include "sdk_api.h"

namespace {

qolv::sdk::ProxyTable& Table() {
  static qolv::sdk::ProxyTable table;
  return table;
}

}  // namespace

extern "C" {

void InitQolvTovuSDK(void) { Table().Open(); }

void UninitQolvTovuSDK(void) { Table().Close(); }

bool InvokeQueryMethod(const char* apiName, const char* param, char** response) {
  if (apiName == nullptr || response == nullptr) return false;
  const qolv::sdk::ApiCall call = qolv::sdk::FindApiCall(apiName);
  if (call == nullptr) return false;
  *response = nullptr;
  // No exception may cross into the caller; one that leaves no answer (memory ran out) shows as
  // an accepted call without a response text.
  try {
    *response = qolv::sdk::CopyForCaller(call(Table(), param != nullptr ? param : ""));
  } catch (...) {
  }
  return true;
}

void FreeQueryResponse(char* response) { std::free(response); }

}  // extern "C"
