/* The device SDK's four C entry points, as the service resolves them by name. */
#ifndef QOLV_TOVU_SDK_H
#define QOLV_TOVU_SDK_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#define QOLV_SDK_CALL __cdecl
#if defined(QOLV_SDK_BUILDING)
#define QOLV_SDK_EXPORT __declspec(dllexport)
#else
#define QOLV_SDK_EXPORT
#endif
#else
#define QOLV_SDK_CALL
#define QOLV_SDK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares the SDK; the service calls it once after loading the library. */
QOLV_SDK_EXPORT void QOLV_SDK_CALL InitQolvTovuSDK(void);

/* Releases the SDK's state; the service calls it once before unloading the library. */
QOLV_SDK_EXPORT void QOLV_SDK_CALL UninitQolvTovuSDK(void);

/* Runs one api call. apiName and param are borrowed for the call (a null param reads as empty).
   Returns true when the SDK accepted the call; *response then holds a text the SDK owns (or null
   when it could not produce one), to be handed back with FreeQueryResponse. */
QOLV_SDK_EXPORT bool QOLV_SDK_CALL InvokeQueryMethod(const char* apiName, const char* param, char** response);

/* Takes back a response text; null is ignored. */
QOLV_SDK_EXPORT void QOLV_SDK_CALL FreeQueryResponse(char* response);

typedef void(QOLV_SDK_CALL* InitQolvTovuSDKFn)(void);
typedef void(QOLV_SDK_CALL* UninitQolvTovuSDKFn)(void);
typedef bool(QOLV_SDK_CALL* InvokeQueryMethodFn)(const char* apiName, const char* param, char** response);
typedef void(QOLV_SDK_CALL* FreeQueryResponseFn)(char* response);

#ifdef __cplusplus
}
static_assert(sizeof(bool) == 1, "the SDK's result is a one-byte boolean");
#endif

#endif
