#include "protocol/reply_envelope.h"

#include <gtest/gtest.h>

namespace qolv {
namespace {

// The envelopes the request path sends are checked byte for byte over the socket; these are
// the ones it cannot produce there.
TEST(ReplyEnvelope, IsOneCompactObjectWithTheMembersInOrder) {
  EXPECT_EQ(ReplyEnvelope::ForError(3, "sdk unavailable").ToJson(),
            R"({"result":0,"errCode":"3","errMsg":"sdk unavailable","data":""})");
  EXPECT_EQ(ReplyEnvelope::ForError(-17, "say \"no\"\n").ToJson(),
            R"({"result":0,"errCode":"-17","errMsg":"say \"no\"\n","data":""})");
}

}  // namespace
}  // namespace qolv
