#pragma once
#include <cstdint>
#include <exception>

namespace qolv {

// Raised by a service hook to fail with a system error code (Windows numbering); the framework
// records the code in the event log and, for the start hook, as the service's exit code.
// Any other exception out of a hook is a failure without a code.
class CServiceError : public std::exception {
 public:
  explicit CServiceError(uint32_t code) : code_(code) {}
  uint32_t code() const noexcept { return code_; }
  const char* what() const noexcept override { return "service hook failed with a system error code"; }

 private:
  uint32_t code_;
};

}  // namespace qolv
