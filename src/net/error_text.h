#pragma once
#include "net/engine_types.h"

namespace qolv::net {

// The fixed text of an engine error code; "UNKNOWN ERROR" for a code without one.
const char* ServerErrorText(ServerError code);

}  // namespace qolv::net
