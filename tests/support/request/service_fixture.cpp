#include "support/request/service_fixture.h"

#include "platform/clock.h"
#include "protocol/outgoing_frame.h"

namespace qolv::testing {
namespace {
// Allows for the clock's second boundary between the stamp and the check.
constexpr uint64_t kStampSlackMs = 2000;
}  // namespace

void ServiceFixture::SetUp() {
  startStamp_ = OutgoingFrame::TimestampMs(platform::LocalNow());
  service_ = std::make_unique<PrinterProxyService>(FakeSdkPath());
  ASSERT_TRUE(service_->Plugin().LoadSDK());
  service_->Plugin().InitSDK();
  ASSERT_TRUE(service_->Tcp().Start(service_.get(), 0));
  ASSERT_NE(Port(), 0);
  ASSERT_TRUE(service_->Worker().Start());
}

void ServiceFixture::TearDown() {
  if (service_) {
    service_->Worker().RequestStop();
    service_->Tcp().Server()->Stop();
    service_->Worker().WaitForWorkers();
    service_->Plugin().UninitSDK();
    service_->Plugin().Unload();
    service_.reset();
  }
}

void ServiceFixture::ExpectAnswer(const Answer& answer, uint8_t type, const std::string& id,
                                  const std::string& body) const {
  const std::string expected = Header(type, id, static_cast<uint32_t>(body.size()));
  const std::string actual(reinterpret_cast<const char*>(&answer.header), FrameHeader::kSize);
  EXPECT_EQ(actual.substr(0, 36), expected.substr(0, 36)) << "magic, 0x01, type and id";
  EXPECT_EQ(actual.substr(44), expected.substr(44)) << "body length";
  EXPECT_EQ(answer.body, body);
  const uint64_t stamp = answer.header.Timestamp();
  EXPECT_GE(stamp + kStampSlackMs, startStamp_);
  EXPECT_LE(stamp, OutgoingFrame::TimestampMs(platform::LocalNow()) + kStampSlackMs);
}

}  // namespace qolv::testing
