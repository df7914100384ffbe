#pragma once
// A PrinterProxyService brought up on a free port with the fake SDK, and taken down in the
// order the service host uses.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "client_exchange.h"
#include "request/printer_proxy_service.h"
#include "support/request/fake_sdk_usage.h"
#include "support/request/frames.h"
#include "support/request/log_capture.h"

namespace qolv::testing {

class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  uint16_t Port() const { return service_->Tcp().Port(); }
  // Checks an answer byte for byte; the time stamp only for lying within the test's run.
  void ExpectAnswer(const Answer& answer, uint8_t type, const std::string& id, const std::string& body) const;

  LogCapture log_;
  FakeSdkUsage sdk_;
  std::unique_ptr<PrinterProxyService> service_;
  uint64_t startStamp_ = 0;
};

// A request body written by a JSON writer, so that any param text arrives as it is.
using client::RequestBody;

}  // namespace qolv::testing
