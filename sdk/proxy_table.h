#pragma once
// The SDK's table of proxied printers: which name the POS client uses for which printer target.
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qolv::sdk {

struct ProxiedPrinter {
  std::string name;
  std::string target;
};

class ProxyTable {
 public:
  // Bounds the memory a client can make the SDK hold.
  static constexpr size_t kMaxPrinters = 256;

  enum class Outcome { kDone, kClosed, kExists, kMissing, kFull, kDuplicate };

  struct Result {
    Outcome outcome = Outcome::kDone;
    std::string name;                      // the entry the outcome is about (kExists, kMissing, kDuplicate)
    std::vector<ProxiedPrinter> printers;  // the table after the call, by name, when kDone
  };

  // Open between SDK initialisation and uninitialisation; a closed table refuses every change.
  void Open();
  // Closes the table and forgets every entry.
  void Close();
  bool IsOpen() const;

  // Replaces the whole table; nothing changes when the list has a name twice or is too long.
  Result Replace(const std::vector<ProxiedPrinter>& printers);
  Result Add(const ProxiedPrinter& printer);
  Result Remove(const std::string& name);

 private:
  Result Done() const;

  mutable std::mutex mutex_;
  bool open_ = false;
  std::map<std::string, std::string> printers_;
};

}  // namespace qolv::sdk
