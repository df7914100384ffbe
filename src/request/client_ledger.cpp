#include "request/client_ledger.h"

#include <vector>

#include "request/connection_flow.h"

namespace qolv {

ClientLedger::~ClientLedger() {
  std::vector<std::shared_ptr<ConnectionFlow>> left;
  {
    std::lock_guard<platform::SlimLock> guard(lock_);
    for (auto& [id, flow] : flows_) left.push_back(flow);
    flows_.clear();
  }
  for (auto& flow : left) flow->Close();
}

void ClientLedger::Register(const std::shared_ptr<ConnectionFlow>& flow) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  flows_[flow->Id()] = flow;
}

void ClientLedger::Unregister(uint32_t connectionId) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  flows_.erase(connectionId);
}

std::shared_ptr<ConnectionFlow> ClientLedger::Find(uint32_t connectionId) const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  auto found = flows_.find(connectionId);
  return found != flows_.end() ? found->second : nullptr;
}

std::shared_ptr<ConnectionFlow> ClientLedger::LargestIncomplete() const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  std::shared_ptr<ConnectionFlow> largest;
  int64_t largestBytes = 0;
  for (const auto& [id, flow] : flows_) {
    const int64_t bytes = flow->IncompleteBytes();
    if (bytes > largestBytes) {
      largest = flow;
      largestBytes = bytes;
    }
  }
  return largest;
}

}  // namespace qolv
