#include "client_options.h"

#include <gtest/gtest.h>

namespace qolv::client {
namespace {

ClientOptions Parsed(std::vector<std::string> args) {
  ClientOptions options;
  const std::string complaint = ParseClientOptions(args, options);
  EXPECT_EQ(complaint, "");
  return options;
}

std::string Complaint(std::vector<std::string> args) {
  ClientOptions options;
  return ParseClientOptions(args, options);
}

TEST(ClientOptionsTest, ReadsARequest) {
  const ClientOptions options = Parsed(
      {"--host", "::1", "--port", "9200", "--type", "2", "--timeout", "250", "printer.add", "{\"a\":1}"});
  EXPECT_EQ(options.host, "::1");
  EXPECT_EQ(options.port, 9200);
  EXPECT_EQ(options.type, TPMT_RAW_MSG);
  EXPECT_EQ(options.timeoutMs, 250u);
  EXPECT_FALSE(options.heartbeat);
  EXPECT_EQ(options.action, "printer.add");
  EXPECT_EQ(options.param, "{\"a\":1}");

  const ClientOptions defaults = Parsed({"printer.list"});
  EXPECT_EQ(defaults.host, "127.0.0.1");
  EXPECT_EQ(defaults.port, 9199);
  EXPECT_EQ(defaults.type, TPMT_REQUEST_API);
  EXPECT_EQ(defaults.param, "");
  EXPECT_TRUE(Parsed({"--heartbeat"}).heartbeat);
}

TEST(ClientOptionsTest, RefusesWhatCannotBeSent) {
  EXPECT_NE(Complaint({}), "");
  EXPECT_NE(Complaint({"--type", "1", "printer.list"}), "");  // a heartbeat has its own option
  EXPECT_NE(Complaint({"--port", "0", "printer.list"}), "");
  EXPECT_NE(Complaint({"--port", "65536", "printer.list"}), "");
  EXPECT_NE(Complaint({"--port", "12x", "printer.list"}), "");
  EXPECT_NE(Complaint({"--timeout", "0", "printer.list"}), "");
  EXPECT_NE(Complaint({"printer.list", "--port"}), "");
  EXPECT_NE(Complaint({"--heartbeat", "printer.list"}), "");
  EXPECT_NE(Complaint({"--verbose", "printer.list"}), "");
  EXPECT_NE(Complaint({"printer.add", "a", "b"}), "");
}

}  // namespace
}  // namespace qolv::client
