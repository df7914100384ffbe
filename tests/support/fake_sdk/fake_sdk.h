/* A stand-in for the device SDK with the same four entry points, for tests. What a call does is
   told by its param text:

     param  := prefix* action
     prefix := "delay=" N ";"    sleep N milliseconds (at most 120000) before answering
             | "gather=" N ";"   wait until N calls that say gather=N are in progress together
                                 (at most 10 s), so tests can prove calls overlap
     action := "refuse"          return false, hand out nothing
             | "crash"           write to an invalid address, as a faulty SDK would
             | "null"            return true with a null response
             | "empty"           return true with an empty response text
             | "text=" REST      return true with REST, every byte after "text=", as the response
             | anything else     echo: return true with apiName + "|" + the whole param

   Every api name is accepted. The counters below say how the library was used; tests read them
   through the extra exports after loading the same library. */
#ifndef QOLV_FAKE_SDK_H
#define QOLV_FAKE_SDK_H

#include <stdint.h>

#include "qolv_tovu_sdk.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FakeSdkCounters {
  int64_t initCalls;   /* InitQolvTovuSDK calls */
  int64_t uninitCalls; /* UninitQolvTovuSDK calls */
  int64_t calls;       /* InvokeQueryMethod calls, refused ones included */
  int64_t refused;     /* calls that returned false */
  int64_t frees;       /* FreeQueryResponse calls */
  int64_t strayFrees;  /* of those, pointers that were not outstanding (null, foreign, freed twice) */
  int64_t outstanding; /* responses handed out and not freed yet */
  int64_t inFlight;    /* InvokeQueryMethod calls in progress now */
  int64_t maxInFlight; /* the most calls in progress at once */
} FakeSdkCounters;

QOLV_SDK_EXPORT void QOLV_SDK_CALL FakeSdkReadCounters(FakeSdkCounters* counters);

/* Sets every count to zero (maxInFlight to the calls in progress) and takes back the responses
   still outstanding, so one test's leftovers do not show in the next. */
QOLV_SDK_EXPORT void QOLV_SDK_CALL FakeSdkResetCounters(void);

typedef void(QOLV_SDK_CALL* FakeSdkReadCountersFn)(FakeSdkCounters* counters);
typedef void(QOLV_SDK_CALL* FakeSdkResetCountersFn)(void);

#ifdef __cplusplus
}
#endif

#endif
