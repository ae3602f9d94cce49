#include "setup/dotted_quad.h"

#include <gtest/gtest.h>

#include <string>

namespace vanta {
namespace {

struct QuadCase {
  const char* text;
  uint32_t expected;
};

// Every address form the dialog's four address fields may hold, with the number the setup block
// stores for it; 0xFFFFFFFF is both the failure value and 255.255.255.255.
TEST(DottedQuad, ParsesTextsIntoBigEndianNumbersOrTheFailureValue) {
  const QuadCase cases[] = {
      {"0.0.0.0", 0x00000000},
      {"192.168.1.10", 0xC0A8010A},
      {"111.111.111.111", 0x6F6F6F6F},
      {"255.255.255.0", 0xFFFFFF00},
      {"1.2.3.4", 0x01020304},
      // Parts are decimal; leading zeros are ignored.
      {"010.1.1.1", 0x0A010101},
      {"10.1.1.1", 0x0A010101},
      {"001.002.003.004", 0x01020304},
      // Empty parts count as 0.
      {"...", 0x00000000},
      {"1..2.3", 0x01000203},
      {"1.0.2.3", 0x01000203},
      {"1.2.3.", 0x01020300},
      // Invalid texts.
      {"1234.1.1.1", kInvalidAddress},
      {"1.1.1.0255", kInvalidAddress},
      {"256.1.1.1", kInvalidAddress},
      {"1.1.1.256", kInvalidAddress},
      {"999.1.1.1", kInvalidAddress},
      {"1.2.3.4.5", kInvalidAddress},
      {"1.2.3.4.", kInvalidAddress},
      {"1.2.3", kInvalidAddress},
      {" 1.2.3.4", kInvalidAddress},
      {"1.2.3.4 ", kInvalidAddress},
      {"", kInvalidAddress},
      {"a.b.c.d", kInvalidAddress},
      {"1.2.3.4x", kInvalidAddress},
      {"1,2,3,4", kInvalidAddress},
      {"-1.2.3.4", kInvalidAddress},
      {"255.255.255.255", kInvalidAddress},
  };
  for (const QuadCase& c : cases) {
    EXPECT_EQ(ParseDottedQuad(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(DottedQuad, AByteAfterTheEndOfTheDigitsIsNotTheEndOfTheText) {
  // An embedded NUL is a character like any other, not the end of the text.
  EXPECT_EQ(ParseDottedQuad(std::string("1.2.3.4\0", 8)), kInvalidAddress);
  EXPECT_EQ(ParseDottedQuad(std::string("1.2\0.3.4", 8)), kInvalidAddress);
}

}  // namespace
}  // namespace vanta
