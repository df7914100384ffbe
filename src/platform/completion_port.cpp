#include "platform/completion_port.h"

#include "platform/completion_port_detail.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform {

CompletionPort::~CompletionPort() { Close(); }

bool CompletionPort::Open() {
  if (impl_ != nullptr) {
    SetSystemError(err::kInvalidState);
    return false;
  }
  impl_ = detail::CreatePortState();
  return impl_ != nullptr;
}

}  // namespace qolv::platform
