#pragma once
// Reading the param texts of the proxy-table calls. Each reader returns an empty text on
// success and otherwise the message that tells the client what was wrong.
#include <string>
#include <vector>

#include "proxy_table.h"

namespace qolv::sdk {

inline constexpr size_t kMaxNameBytes = 128;
inline constexpr size_t kMaxTargetBytes = 1024;
// A full table with the longest names and targets needs about 300 KB; anything much longer is
// refused before it is parsed, so a hostile param cannot make the parse take much memory.
inline constexpr size_t kMaxParamBytes = 1024 * 1024;

// {"name":"...","target":"..."}
std::string ReadPrinterParam(const char* param, ProxiedPrinter& printer);

// {"name":"..."}
std::string ReadNameParam(const char* param, std::string& name);

// {"printers":[{"name":"...","target":"..."},...]}; an empty param or a missing member is an empty list.
std::string ReadPrinterListParam(const char* param, std::vector<ProxiedPrinter>& printers);

}  // namespace qolv::sdk
