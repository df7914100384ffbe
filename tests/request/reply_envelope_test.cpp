#include "request/reply_envelope.h"

#include <gtest/gtest.h>

namespace qolv {
namespace {

TEST(ReplyEnvelope, IsOneCompactObjectWithTheMembersInOrder) {
  EXPECT_EQ(ReplyEnvelope::ForError(1, "param error").ToJson(),
            R"({"result":0,"errCode":"1","errMsg":"param error","data":""})");
  EXPECT_EQ(ReplyEnvelope::ForError(2, "unknow cmd").ToJson(),
            R"({"result":0,"errCode":"2","errMsg":"unknow cmd","data":""})");
  EXPECT_EQ(ReplyEnvelope::ForError(-17, "say \"no\"\n").ToJson(),
            R"({"result":0,"errCode":"-17","errMsg":"say \"no\"\n","data":""})");
}

}  // namespace
}  // namespace qolv
