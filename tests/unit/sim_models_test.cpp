// The virtual probe's flash and logic models and its own framing, without a line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/flash_model.h"
#include "sim/logic_model.h"
#include "sim/wire_frame.h"

namespace vanta::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- framing -------------------------------------------------------------------------------

struct FrameRow {
  const char* name;
  Bytes payload;
  Bytes frame;
};

const FrameRow kFrameRows[] = {
    {"link sync", {0x00, 0x01, 0x01}, {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00}},
    {"set speed 115200",
     {0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00},
     {0x10, 0x02, 0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00, 0x10, 0x03, 0xC5}},
    {"DLE payload and DLE check", {0x10}, {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x10}},
    {"empty", {}, {0x10, 0x02, 0x10, 0x03, 0x00}},
};

TEST(SimWireFrame, EncodesTheKnownFramesAndDecodesThemBack) {
  for (const FrameRow& row : kFrameRows) {
    EXPECT_EQ(EncodeFrame(row.payload), row.frame) << row.name;
    FrameDecoder decoder;
    int frames = 0;
    for (size_t i = 0; i < row.frame.size(); ++i) {
      const auto event = decoder.Push(row.frame[i]);
      if (event == FrameDecoder::Event::kFrame) {
        ++frames;
        EXPECT_EQ(i, row.frame.size() - 1) << row.name;
        EXPECT_EQ(decoder.Payload(), row.payload) << row.name;
      }
    }
    EXPECT_EQ(frames, 1) << row.name;
  }
}

// Feeds bytes and reports the events other than kNone, in order.
std::vector<FrameDecoder::Event> Events(FrameDecoder& decoder, const Bytes& bytes) {
  std::vector<FrameDecoder::Event> events;
  for (uint8_t b : bytes) {
    const auto e = decoder.Push(b);
    if (e != FrameDecoder::Event::kNone) events.push_back(e);
  }
  return events;
}

TEST(SimWireFrame, HuntingSkipsNoiseAndStuffedPairs) {
  using E = FrameDecoder::Event;
  FrameDecoder decoder;
  // Noise with a lone DLE, then DLE DLE STX (a stuffed byte and a STX: no frame start).
  EXPECT_TRUE(Events(decoder, {0x41, 0x42, 0x10, 0x05, 0x10, 0x10, 0x02, 0x00, 0x01}).empty());
  EXPECT_EQ(Events(decoder, kFrameRows[0].frame), std::vector<E>{E::kFrame});
}

TEST(SimWireFrame, BrokenFramesAreThrownAwayAndTheNextOneIsTaken) {
  using E = FrameDecoder::Event;
  struct Row {
    const char* name;
    Bytes bytes;
  } rows[] = {
      {"check mismatch", {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x01}},
      {"DLE STX inside a frame", {0x10, 0x02, 0x00, 0x10, 0x02}},
      {"check DLE not doubled", {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x00}},
  };
  for (const Row& row : rows) {
    FrameDecoder decoder;
    EXPECT_EQ(Events(decoder, row.bytes), std::vector<E>{E::kBadFrame}) << row.name;
    EXPECT_EQ(Events(decoder, kFrameRows[0].frame), std::vector<E>{E::kFrame}) << row.name;
  }
  FrameDecoder small(2);
  EXPECT_EQ(Events(small, kFrameRows[0].frame), std::vector<E>{E::kBadFrame});
}

TEST(SimWireFrame, ResetForgetsAHalfFrame) {
  FrameDecoder decoder;
  Events(decoder, {0x10, 0x02, 0x00});
  EXPECT_TRUE(decoder.InFrame());
  decoder.Reset();
  EXPECT_FALSE(decoder.InFrame());
  EXPECT_EQ(Events(decoder, kFrameRows[0].frame).size(), 1u);
}

// ---- flash ---------------------------------------------------------------------------------

TEST(SimFlash, SectorMapAndBounds) {
  struct Row {
    uint32_t address;
    uint32_t sector;  // 0: outside the flash
    bool isProtected;
  } rows[] = {
      {0x00FFFFFF, 0, false},          {0x01000000, 0x01000000, true},
      {0x01007FFF, 0x01000000, true},  {0x01008000, 0x01008000, false},
      {0x0100BFFF, 0x01008000, false}, {0x0100C000, 0x0100C000, false},
      {0x0100FFFF, 0x0100C000, false}, {0x01010000, 0x01010000, false},
      {0x0103FFFF, 0x01010000, false}, {0x01040000, 0x01040000, false},
      {0x0107FFFF, 0x01040000, false}, {0x01080000, 0x01080000, false},
      {0x010C0000, 0x010C0000, false}, {0x010FFFFF, 0x010C0000, false},
      {0x01100000, 0, false},
  };
  for (const Row& row : rows) {
    const FlashSector* s = FlashModel::SectorAt(row.address);
    if (row.sector == 0) {
      EXPECT_EQ(s, nullptr) << std::hex << row.address;
    } else {
      ASSERT_NE(s, nullptr) << std::hex << row.address;
      EXPECT_EQ(s->address, row.sector) << std::hex << row.address;
      EXPECT_EQ(s->isProtected, row.isProtected) << std::hex << row.address;
    }
  }
  EXPECT_TRUE(FlashModel::InFlash(0x010FFFFF, 1));
  EXPECT_FALSE(FlashModel::InFlash(0x010FFFFF, 2));
  EXPECT_FALSE(FlashModel::InFlash(0xFFFFFFFF, 2));  // must not wrap round into the flash
  EXPECT_TRUE(FlashModel::InFlash(0x01100000, 0));
}

TEST(SimFlash, ProgrammingOnlyClearsBitsAndEraseSetsTheWholeSector) {
  FlashModel flash;
  EXPECT_EQ(flash.Read(0x01008000, 2), (Bytes{0xFF, 0xFF}));
  const uint8_t first[] = {0x0F, 0x3C};
  const uint8_t second[] = {0xF0, 0xFF};
  ASSERT_TRUE(flash.Program(0x01008000, first, 2));
  ASSERT_TRUE(flash.Program(0x01008000, second, 2));  // without erase: the AND shows
  EXPECT_EQ(flash.Read(0x01008000, 2), (Bytes{0x00, 0x3C}));

  const uint8_t zero = 0;
  ASSERT_TRUE(flash.Program(0x0100BFFF, &zero, 1));  // last byte of the sector
  ASSERT_TRUE(flash.Program(0x0100C000, &zero, 1));  // first byte of the next
  ASSERT_TRUE(flash.EraseSector(0x0100A000));        // an address inside the sector
  EXPECT_EQ(flash.Read(0x01008000, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(flash.Read(0x0100BFFF, 2), (Bytes{0xFF, 0x00}));
}

TEST(SimFlash, LoaderSectorAndOutsideAreRefused) {
  FlashModel flash;
  const uint8_t zeros[4] = {};
  EXPECT_FALSE(flash.EraseSector(0x01000000));
  EXPECT_FALSE(flash.EraseSector(0x01100000));
  EXPECT_FALSE(flash.Program(0x01000010, zeros, 4));
  EXPECT_FALSE(flash.Program(0x01007FFE, zeros, 4));  // reaches back into the loader
  EXPECT_FALSE(flash.Program(0x010FFFFE, zeros, 4));  // runs off the end
  EXPECT_FALSE(flash.Program(0x00FFFFFE, zeros, 4));
  EXPECT_EQ(flash.Read(0x01007FFE, 4), Bytes(4, 0xFF));
  EXPECT_EQ(flash.Read(0x010FFFFE, 4), Bytes(4, 0xFF));
  EXPECT_TRUE(flash.Program(0x01000010, zeros, 4, /*force=*/true));
  EXPECT_EQ(flash.Read(0x0100000F, 2), (Bytes{0xFF, 0x00}));
}

TEST(SimFlash, ImageFileRoundTripAndWrongSizeRefused) {
  const auto dir =
      std::filesystem::temp_directory_path() /
      ("sim_flash_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "flash.bin").string();
  FlashModel flash;
  const uint8_t bytes[] = {0x12, 0x34};
  flash.Program(0x010C0000, bytes, 2);
  ASSERT_TRUE(flash.SaveImage(path));
  EXPECT_EQ(std::filesystem::file_size(path), FlashModel::kSize);
  FlashModel loaded;
  ASSERT_TRUE(loaded.LoadImage(path));
  EXPECT_EQ(loaded.Read(0x010C0000, 3), (Bytes{0x12, 0x34, 0xFF}));

  std::ofstream(dir / "short.bin") << "too short";
  EXPECT_FALSE(loaded.LoadImage((dir / "short.bin").string()));
  EXPECT_FALSE(loaded.LoadImage((dir / "missing.bin").string()));
  EXPECT_EQ(loaded.Read(0x010C0000, 1), Bytes{0x12});  // left as it was
  std::filesystem::remove_all(dir);
}

// ---- logic device --------------------------------------------------------------------------

std::vector<uint8_t> RowOf(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(SimLogic, ProgrammingAndsIntoErasedRows) {
  LogicModel logic;
  EXPECT_EQ(logic.Row(0), std::string(240, '1'));
  std::string pattern(240, '1');
  pattern[0] = '0';
  pattern[239] = '0';
  ASSERT_TRUE(logic.ProgramRow(133, RowOf(pattern).data()));
  std::string other(240, '1');
  other[1] = '0';
  ASSERT_TRUE(logic.ProgramRow(133, RowOf(other).data()));
  std::string both = pattern;
  both[1] = '0';
  EXPECT_EQ(logic.Row(133), both);

  std::string bad(240, '1');
  bad[5] = 1;  // a raw bit, not a character
  EXPECT_FALSE(logic.ProgramRow(0, RowOf(bad).data()));
  EXPECT_EQ(logic.Row(0), std::string(240, '1'));
  EXPECT_FALSE(logic.ProgramRow(134, RowOf(pattern).data()));

  logic.Erase();
  EXPECT_EQ(logic.Row(133), std::string(240, '1'));
  EXPECT_EQ(logic.Ues(), std::string(120, '1'));
}

TEST(SimLogic, UesTextGivesTheStoredLogicVersion) {
  const std::string bits = LogicModel::UesBits("B6001E9012");
  ASSERT_EQ(bits.size(), 120u);
  EXPECT_EQ(bits.substr(0, 16), "0100001000110110");  // 'B', '6'
  EXPECT_EQ(bits.substr(80), std::string(40, '0'));
  EXPECT_EQ(LogicModel::UesBits("0123456789ABCDEFGH"), LogicModel::UesBits("0123456789ABCDE"));

  struct Row {
    const char* text;
    uint16_t stored;
  } rows[] = {
      {"B6001E9012", 9012}, {"B6001E9000", 9000}, {"B6001E9999", 9999}, {"B6001E8012", 0},
      {"B6001E901", 0},     {"B6001E90123", 0},   {"B6001E9A12", 0},    {"", 0},
  };
  for (const Row& row : rows) {
    LogicModel logic;
    ASSERT_TRUE(logic.ProgramUes(RowOf(LogicModel::UesBits(row.text)).data()));
    EXPECT_EQ(logic.UesText(), row.text);
    EXPECT_EQ(logic.StoredVersion(), row.stored) << row.text;
  }
  LogicModel erased;
  EXPECT_EQ(erased.StoredVersion(), 0);  // all ones is no text
}

}  // namespace
}  // namespace vanta::sim
