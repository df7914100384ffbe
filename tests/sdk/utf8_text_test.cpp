#include "utf8_text.h"

#include <gtest/gtest.h>

namespace qolv::sdk {
namespace {

TEST(ValidUtf8, KeepsWellFormedTextAndMarksEveryBrokenByte) {
  EXPECT_EQ(ValidUtf8(nullptr), "");
  EXPECT_EQ(ValidUtf8("Kitchen 1"), "Kitchen 1");
  EXPECT_EQ(ValidUtf8("K\xC3\xBC"
                      "che \xE5\x8E\xA8 \xF0\x9F\x96\xA8"),
            "K\xC3\xBC"
            "che \xE5\x8E\xA8 \xF0\x9F\x96\xA8");
  EXPECT_EQ(ValidUtf8("Caf\xE9"), "Caf?");  // Latin-1, not UTF-8
  EXPECT_EQ(ValidUtf8("\xE5\x8E"), "??");   // cut short at the end
  EXPECT_EQ(ValidUtf8("\xE5"
                      "A"),
            "?A");                                   // cut short by a plain character
  EXPECT_EQ(ValidUtf8("\xC0\xAF"), "??");            // overlong slash
  EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "???");       // a surrogate
  EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), "????");  // above U+10FFFF
  EXPECT_EQ(ValidUtf8("\x80\xBF\xFF"), "???");       // lone continuation and invalid bytes
}

}  // namespace
}  // namespace qolv::sdk
