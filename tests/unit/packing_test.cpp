#include "link/packing.h"

#include <gtest/gtest.h>

#include <cstring>

#include "link/result_codes.h"

namespace vanta {
namespace {

TEST(Packing, NumbersTravelMostSignificantByteFirstAndRoundTrip) {
  uint8_t buffer[7] = {};
  uint8_t* at = PutU8(buffer, 0x68);
  at = PutU32(at, 0x0100C000);
  at = PutU16(at, 0x0401);
  EXPECT_EQ(at, buffer + 7);
  const uint8_t expected[7] = {0x68, 0x01, 0x00, 0xC0, 0x00, 0x04, 0x01};
  EXPECT_EQ(0, memcmp(buffer, expected, 7));

  uint8_t code = 0;
  uint32_t address = 0;
  uint16_t count = 0;
  const uint8_t* read = GetU16(GetU32(GetU8(buffer, code), address), count);
  EXPECT_EQ(read, buffer + 7);
  EXPECT_EQ(code, 0x68);
  EXPECT_EQ(address, 0x0100C000u);
  EXPECT_EQ(count, 0x0401);
}

TEST(ResultCodes, NamesKnownCodesAndMarksUnknownOnes) {
  EXPECT_STREQ(ResultName(SESSION_E_NO_REPLY), "SESSION_E_NO_REPLY");
  EXPECT_STREQ(ResultName(0), "OK");
  EXPECT_STREQ(ResultName(-77), "UNKNOWN(-77)");
}

}  // namespace
}  // namespace vanta
