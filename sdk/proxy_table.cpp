#include "proxy_table.h"

namespace qolv::sdk {

void ProxyTable::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
}

void ProxyTable::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  printers_.clear();
}

bool ProxyTable::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

ProxyTable::Result ProxyTable::Replace(const std::vector<ProxiedPrinter>& printers) {
  std::map<std::string, std::string> fresh;
  for (const ProxiedPrinter& printer : printers) {
    if (!fresh.emplace(printer.name, printer.target).second) return {Outcome::kDuplicate, printer.name, {}};
  }
  if (fresh.size() > kMaxPrinters) return {Outcome::kFull, {}, {}};
  std::lock_guard lock(mutex_);
  if (!open_) return {Outcome::kClosed, {}, {}};
  printers_.swap(fresh);
  return Done();
}

ProxyTable::Result ProxyTable::Add(const ProxiedPrinter& printer) {
  std::lock_guard lock(mutex_);
  if (!open_) return {Outcome::kClosed, {}, {}};
  if (printers_.count(printer.name) != 0) return {Outcome::kExists, printer.name, {}};
  if (printers_.size() >= kMaxPrinters) return {Outcome::kFull, {}, {}};
  printers_.emplace(printer.name, printer.target);
  return Done();
}

ProxyTable::Result ProxyTable::Remove(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (!open_) return {Outcome::kClosed, {}, {}};
  if (printers_.erase(name) == 0) return {Outcome::kMissing, name, {}};
  return Done();
}

// Called with the lock held, so the answer shows exactly the table this call left behind.
ProxyTable::Result ProxyTable::Done() const {
  Result result;
  result.printers.reserve(printers_.size());
  for (const auto& [name, target] : printers_) result.printers.push_back({name, target});
  return result;
}

}  // namespace qolv::sdk
