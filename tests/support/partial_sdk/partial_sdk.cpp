// An SDK library that lacks InvokeQueryMethod and FreeQueryResponse, for tests of a load that
// finds only some entry points. It counts the calls that reach it.
#include <atomic>

#include "qolv_tovu_sdk.h"

namespace {
std::atomic<int> g_calls{0};
}  // namespace

extern "C" {

void InitQolvTovuSDK(void) { ++g_calls; }
void UninitQolvTovuSDK(void) { ++g_calls; }

// The number of Init and Uninit calls so far.
QOLV_SDK_EXPORT int QOLV_SDK_CALL PartialSdkCalls(void) { return g_calls.load(); }

}  // extern "C"
