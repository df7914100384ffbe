#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "protocol/frame_header.h"
#include "request/tcp_request_session.h"
#include "support/seams/platform_seams.h"

namespace qolv {
namespace {

TcpRequestSession SessionWithBody(const std::string& body) {
  uint8_t header[FrameHeader::kSize] = {'Q', 'V', 1, TPMT_REQUEST_API};
  return TcpRequestSession(9199, 3, header, body.data(), static_cast<uint32_t>(body.size()));
}

struct Accepted {
  std::string body;
  std::string action;
  std::string param;
};

TEST(Parse, AcceptsOneObjectAndReadsTheStringMembers) {
  using namespace std::string_literals;
  const Accepted cases[] = {
      {"{}", "", ""},
      {R"({"action":"printer.list","param":"{\"a\":1}"})", "printer.list", R"({"a":1})"},
      {" \t\r\n{\"action\":\"x\"} \r\n\t", "x", ""},
      {"{\"action\":\"x\"}\0 garbage after the zero"s, "x", ""},
      {R"({"action":5,"param":{"k":"v"}})", "", ""},
      {R"({"param":["list"],"action":null})", "", ""},
      {R"({"Action":"printer.list","PARAM":"p"})", "", ""},
      {R"({"action":"first","action":"second","param":"one","param":2})", "first", "one"},
      {R"({"param":"say \"hi\" to C:\\dir\\"})", "", R"(say "hi" to C:\dir\)"},
      {R"({"action":"ab\u0000cd","param":"\u00e9\ud83d\ude00"})", "ab", "\xC3\xA9\xF0\x9F\x98\x80"},
      // Nesting up to 256 levels, and brackets inside strings, which do not nest.
      {"{\"action\":\"deep\",\"x\":" + std::string(255, '[') + std::string(255, ']') + "}", "deep", ""},
      {"{\"param\":\"" + std::string(1000, '[') + "\\\"{\"}", "", std::string(1000, '[') + "\"{"},
  };
  for (const Accepted& c : cases) {
    TcpRequestSession session = SessionWithBody(c.body);
    EXPECT_TRUE(session.Parse()) << c.body;
    EXPECT_EQ(session.Action(), c.action) << c.body;
    EXPECT_EQ(session.Param(), c.param) << c.body;
  }
}

std::mutex g_mutex;
std::vector<std::string> g_debugLines;
void CaptureDebug(const char* text) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_debugLines.push_back(text);
}

TEST(Parse, RefusesAnythingButOneObjectWithOneLogLine) {
  using namespace std::string_literals;
  const std::string refused[] = {
      "[]",         "[{\"action\":\"x\"}]",
      "12",         "\"text\"",
      "null",       "true",
      " \t\r\n ",   "",
      "{} x",       "{\"action\":\"x\"}}",
      "{\"a\":1,}", "{/*c*/}",
      "{'a':1}",    "{\"a\":\"\x01\"}",
      "\0{}"s,      "{\"action\":\"x\"",
      // Deep enough to overflow a worker's stack if it reached the parser's recursion.
      "{\"a\":" + std::string(257, '[') + std::string(257, ']') + "}",
      std::string(500000, '['),
  };
  platform::SetDebugOutputHook(&CaptureDebug);
  for (const std::string& body : refused) {
    g_debugLines.clear();
    TcpRequestSession session = SessionWithBody(body);
    EXPECT_FALSE(session.Parse()) << body;
    EXPECT_TRUE(session.Action().empty());
    EXPECT_TRUE(session.Param().empty());
    EXPECT_EQ(g_debugLines.size(), 1u) << body;
  }

  // The line shows the body up to its first zero byte.
  g_debugLines.clear();
  TcpRequestSession session = SessionWithBody("[1, \"two\"]\0hidden"s);
  EXPECT_FALSE(session.Parse());
  platform::SetDebugOutputHook(nullptr);
  ASSERT_EQ(g_debugLines.size(), 1u);
  const std::string& line = g_debugLines[0];
  char ids[32];
  std::snprintf(ids, sizeof ids, " %u %u ", platform::CurrentProcessId(), platform::CurrentThreadId());
  const std::string tail = "@@@ TcpRequestSession exception, body parse failed, data=[1, \"two\"]\r\n";
  ASSERT_GT(line.size(), 23 + tail.size());
  EXPECT_EQ(line.substr(23, std::strlen(ids)), ids) << line;
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
}

// The session keeps copies, so the receiving side may reuse its buffers at once.
TEST(TcpRequestSession, CopiesHeaderAndBody) {
  uint8_t header[FrameHeader::kSize] = {'Q', 'V', 1, TPMT_RAW_MSG};
  char body[] = {'a', 0, 'b', 'c', 'd'};
  const TcpRequestSession session(9199, 77, header, body, sizeof body);
  header[3] = 0x55;
  body[0] = 'X';
  EXPECT_EQ(session.Type(), TPMT_RAW_MSG);
  EXPECT_EQ(session.Body(), std::string("a\0bcd", 5));
  EXPECT_EQ(session.ConnectionId(), 77u);
  EXPECT_EQ(session.LocalPort(), 9199);

  // A null body, or length 0, leaves the body empty.
  EXPECT_TRUE(TcpRequestSession(9199, 1, header, nullptr, 5).Body().empty());
  EXPECT_TRUE(TcpRequestSession(9199, 1, header, body, 0).Body().empty());
}

}  // namespace
}  // namespace qolv
