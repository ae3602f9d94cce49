#include "setup/setup_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vanta {
namespace {

SetupTexts ExampleTexts() {
  return {"192.168.1.10", "255.255.255.0", "192.168.1.1", "192.168.1.2", ""};
}

std::vector<uint8_t> Bytes(const SetupBlock& block, size_t from, size_t to) {
  return std::vector<uint8_t>(block.begin() + from, block.begin() + to + 1);
}

TEST(SetupBlock, MacAddressIsThePrefixAndTheSerialPackedAsBcd) {
  SetupBlock block;
  ASSERT_EQ(BuildSetupBlock("12345678", ExampleTexts(), block), RESULT_OK);
  EXPECT_EQ(Bytes(block, 0, 7),
            (std::vector<uint8_t>{0x0A, 0x4F, 0x19, 0x12, 0x34, 0x56, 0xFF, 0xFF}));

  // Characters 7 on do not count, and a ten-character serial packs the same way.
  ASSERT_EQ(BuildSetupBlock("1234569999", ExampleTexts(), block), RESULT_OK);
  EXPECT_EQ(Bytes(block, 3, 5), (std::vector<uint8_t>{0x12, 0x34, 0x56}));
}

TEST(SetupBlock, NonDigitSerialCharactersFollowTheSameArithmeticUnchecked) {
  SetupBlock block;
  // 'A','B': 16 * 0x11 + 0x12 = 0x122, modulo 256 0x22. ' ' (0x20) - 0x30 wraps.
  ASSERT_EQ(BuildSetupBlock("AB00 0XYZ", ExampleTexts(), block), RESULT_OK);
  EXPECT_EQ(block[3], 0x22);
  EXPECT_EQ(block[4], 0x00);
  EXPECT_EQ(block[5], static_cast<uint8_t>(16 * (0x20 - 0x30) + 0));
}

TEST(SetupBlock, AddressesAndNameFollowInOffsetOrder) {
  SetupBlock block;
  ASSERT_EQ(BuildSetupBlock("12345678", ExampleTexts(), block), RESULT_OK);
  EXPECT_EQ(Bytes(block, 8, 24),
            (std::vector<uint8_t>{0xC0, 0xA8, 0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01,
                                  0x01, 0xC0, 0xA8, 0x01, 0x02, 0x00}));
  // Everything behind the terminator is 0x00.
  for (size_t i = 25; i < kSetupBlockSize; ++i) EXPECT_EQ(block[i], 0x00) << i;
}

TEST(SetupBlock, UnparsableMaskGatewayOrHostIsStoredAsAllOnes) {
  for (const char* bad : {"abc", "255.255.0", "255.256.255.0", "", " 1.2.3.4"}) {
    SetupTexts texts = ExampleTexts();
    texts.subnetMaskText = bad;
    texts.gatewayText = bad;
    texts.configHostText = bad;
    SetupBlock block;
    ASSERT_EQ(BuildSetupBlock("12345678", texts, block), RESULT_OK) << bad;
    EXPECT_EQ(Bytes(block, 12, 23), std::vector<uint8_t>(12, 0xFF)) << bad;
  }
}

TEST(SetupBlock, DefaultHostIsStoredAsItsFourBytes) {
  SetupTexts texts = ExampleTexts();
  texts.configHostText = "111.111.111.111";
  SetupBlock block;
  ASSERT_EQ(BuildSetupBlock("12345678", texts, block), RESULT_OK);
  EXPECT_EQ(Bytes(block, 20, 23), (std::vector<uint8_t>{0x6F, 0x6F, 0x6F, 0x6F}));
}

TEST(SetupBlock, FileNameIsCutTo79CharactersAndAlwaysTerminated) {
  SetupTexts texts = ExampleTexts();
  std::string name;
  for (int i = 0; i < 100; ++i) name.push_back(static_cast<char>('a' + i % 26));
  texts.configFileText = name;
  SetupBlock block;
  ASSERT_EQ(BuildSetupBlock("12345678", texts, block), RESULT_OK);
  EXPECT_EQ(std::string(block.begin() + 24, block.begin() + 103), name.substr(0, 79));
  EXPECT_EQ(block[103], 0x00);

  texts.configFileText = "/cfg/probe.cfg";
  ASSERT_EQ(BuildSetupBlock("12345678", texts, block), RESULT_OK);
  EXPECT_EQ(std::string(block.begin() + 24, block.begin() + 38), "/cfg/probe.cfg");
  EXPECT_EQ(block[38], 0x00);

  texts.configFileText = std::string(79, 'x');
  ASSERT_EQ(BuildSetupBlock("12345678", texts, block), RESULT_OK);
  EXPECT_EQ(block[102], 'x');
  EXPECT_EQ(block[103], 0x00);
}

TEST(SetupBlock, SerialShorterThanSixCharactersIsRefused) {
  for (const char* serial : {"", "1", "1234", "12345"}) {
    SetupBlock block;
    EXPECT_EQ(BuildSetupBlock(serial, ExampleTexts(), block), SETUP_E_SERIAL) << serial;
  }
  SetupBlock block;
  EXPECT_EQ(BuildSetupBlock("123456", ExampleTexts(), block), RESULT_OK);
  EXPECT_EQ(Bytes(block, 3, 5), (std::vector<uint8_t>{0x12, 0x34, 0x56}));
}

}  // namespace
}  // namespace vanta
