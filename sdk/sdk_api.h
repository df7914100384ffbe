#pragma once
// The api names the SDK answers, each a function from the param text to the answer text.
#include <string>

#include "proxy_table.h"

namespace qolv::sdk {

using ApiCall = std::string (*)(ProxyTable& table, const char* param);

// The call for an api name (exact, case-sensitive), or null for a name the SDK does not know.
ApiCall FindApiCall(const char* apiName);

}  // namespace qolv::sdk
