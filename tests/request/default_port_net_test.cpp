#include <gtest/gtest.h>

#include "request/tcp_service.h"
#include "support/request/frame_client.h"
#include "support/request/frames.h"
#include "support/request/log_capture.h"
#include "support/request/recording_delegate.h"

namespace qolv {
namespace {

TEST(TcpServiceDefaultPort, ListensOnAllIpv4AddressesAtTheServicePort) {
  testing::LogCapture log;
  testing::RecordingDelegate delegate;
  TcpService service;
  if (!service.Start(&delegate)) {
    ASSERT_EQ(service.Server()->GetLastErrorCode(), net::ServerError::BindSocketFailed);
    GTEST_SKIP() << "port 9199 is held by another program";
  }
  EXPECT_EQ(service.Port(), 9199);
  EXPECT_EQ(log.Count(testing::kInfoTag, "TcpService OnPrepareListen: address=0.0.0.0; port=9199"), 1);

  testing::FrameClient client(9199);
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  ASSERT_TRUE(client.Send(testing::Frame(TPMT_HEART_BEAT, "default")));
  ASSERT_TRUE(delegate.WaitForFrames(1));
  EXPECT_EQ(delegate.Frames()[0].port, 9199);
  EXPECT_TRUE(service.Server()->Stop());
  EXPECT_EQ(log.Count(testing::kInfoTag, "TcpService OnShutdown, port=9199"), 1);
}

}  // namespace
}  // namespace qolv
