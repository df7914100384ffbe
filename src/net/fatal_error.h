#pragma once
// A broken invariant of the engine. Nothing in the engine catches it: the process ends and the
// crash handling leaves a dump, which is better than running on with corrupted state.
#include <cstdint>
#include <stdexcept>

#include "platform/error_codes.h"

namespace qolv::net {

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const char* what) : std::runtime_error(what) {}
  // The HRESULT the failure is reported with (E_FAIL).
  uint32_t Code() const { return err::kHresultFail; }
};

}  // namespace qolv::net
