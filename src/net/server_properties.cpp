#include "net/server_properties.h"

#include <algorithm>

#include "platform/error_codes.h"
#include "platform/process_info.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

template <typename Enum>
bool InPolicyRange(Enum value) {
  const auto number = static_cast<int32_t>(value);
  return number >= 0 && number <= 2;
}

bool KeepAliveValid(uint32_t ms) { return ms == 0 || ms >= CServerProperties::kMinKeepAlive; }

}  // namespace

CServerProperties::CServerProperties(const std::atomic<ServerState>& state)
    : state_(state), workerThreadCount_(std::min(2 * platform::ProcessorCount() + 2, kWorkerThreadLimit)) {}

bool CServerProperties::CheckSettings(ServerError& error) const {
  const bool valid = InPolicyRange(sendPolicy_) && InPolicyRange(sendEventLocking_) && maxConnections_ >= 1 &&
                     maxConnections_ <= kMaxConnectionsLimit && workerThreadCount_ >= 1 &&
                     workerThreadCount_ <= kWorkerThreadLimit && pendingAcceptCount_ > 0 &&
                     bufferSize_ >= kMinBufferSize && listenBacklog_ > 0 && reuseDelay_ >= kMinReuseDelay &&
                     connectionPoolSize_ >= 0 && blockPoolSize_ >= 0 && connectionPoolHold_ >= 0 &&
                     blockPoolHold_ >= 0 && KeepAliveValid(keepAliveTime_) &&
                     KeepAliveValid(keepAliveInterval_);
  if (valid) return true;
  error = ServerError::InvalidParameter;
  platform::SetSystemError(err::kInvalidParameter);
  return false;
}

}  // namespace qolv::net
