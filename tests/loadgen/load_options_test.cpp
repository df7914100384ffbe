#include "load_options.h"

#include <gtest/gtest.h>

namespace qolv::bench {
namespace {

std::string Complaint(std::vector<std::string> args) {
  LoadOptions options;
  return ParseLoadOptions(args, options);
}

TEST(LoadOptionsTest, ReadsARun) {
  LoadOptions options;
  ASSERT_EQ(ParseLoadOptions({"--mode", "request", "--host", "::1", "--port", "9199", "-c", "64", "-p", "16",
                              "--duration", "2.5", "--warmup", "0", "--type", "2", "--body", "{}"},
                             options),
            "");
  EXPECT_EQ(options.mode, LoadMode::kRequest);
  EXPECT_EQ(options.host, "::1");
  EXPECT_EQ(options.port, 9199);
  EXPECT_EQ(options.connections, 64u);
  EXPECT_EQ(options.pipeline, 16u);
  EXPECT_DOUBLE_EQ(options.durationS, 2.5);
  EXPECT_DOUBLE_EQ(options.warmupS, 0);
  EXPECT_EQ(options.requestType, 2);
  EXPECT_EQ(options.body, "{}");

  LoadOptions flood;
  ASSERT_EQ(ParseLoadOptions({"--mode", "flood", "--port", "1", "--probes", "5"}, flood), "");
  EXPECT_EQ(flood.mode, LoadMode::kFlood);
  EXPECT_EQ(flood.probes, 5u);
  LoadOptions bodies;
  ASSERT_EQ(ParseLoadOptions({"--mode", "big-body", "--port", "1", "-c", "200", "--body-mib", "60"}, bodies),
            "");
  EXPECT_EQ(bodies.mode, LoadMode::kBigBody);
  EXPECT_EQ(bodies.bodyMiB, 60u);
  LoadOptions idle;
  ASSERT_EQ(ParseLoadOptions({"--mode", "connect-only", "--port", "1", "-c", "50000", "--sources", "4"}, idle), "");
  EXPECT_EQ(idle.sources, 4u);
}

// A count alone still ends in bounded time, should the server stop answering.
TEST(LoadOptionsTest, EveryRunIsBoundedInTime) {
  LoadOptions counted;
  ASSERT_EQ(ParseLoadOptions({"--port", "1", "--frames", "1000"}, counted), "");
  EXPECT_EQ(counted.frames, 1000u);
  EXPECT_GT(counted.durationS, 0);
  EXPECT_LE(counted.durationS, 3600);
  // A flood of that many frames takes its time, still within the limit.
  LoadOptions flood;
  ASSERT_EQ(ParseLoadOptions({"--mode", "flood", "--port", "1", "--frames", "1000000"}, flood), "");
  EXPECT_GT(flood.durationS, counted.durationS);
  EXPECT_LE(flood.durationS, 3600);
  EXPECT_NE(Complaint({"--port", "1", "--duration", "0"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--duration", "3601"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--hold", "-1"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--warmup", "nan"}), "");
}

TEST(LoadOptionsTest, LoadsOnlyThisMachine) {
  for (const char* host : {"10.0.0.1", "192.168.1.1", "localhost", "127.0.0.2", "0.0.0.0", "::", "8.8.8.8"}) {
    EXPECT_NE(Complaint({"--host", host, "--port", "1"}).find("refusing host"), std::string::npos) << host;
  }
  EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(IsLoopbackHost("::1"));
}

TEST(LoadOptionsTest, RefusesBadValues) {
  EXPECT_NE(Complaint({}), "");  // no port
  EXPECT_NE(Complaint({"--port", "70000"}), "");
  EXPECT_NE(Complaint({"--port", "1", "-c", "0"}), "");
  EXPECT_NE(Complaint({"--port", "1", "-p", "4097"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--type", "1"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--mode", "storm"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--probes", "0"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--body-mib", "2048"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--frames"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--rate", "5"}), "");
  EXPECT_NE(Complaint({"--port", "1", "--sources", "65"}), "");
  EXPECT_NE(Complaint({"--host", "::1", "--port", "1", "--sources", "2"}), "");
}

}  // namespace
}  // namespace qolv::bench
