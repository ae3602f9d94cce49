#include "update/srecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/image_gen.h"
#include "update/backup_file.h"
#include "update/flash_backup.h"

namespace vanta {
namespace {

TEST(HexByte, ReadsTheTwentyFourEntryTableFromZeroToG) {
  struct Row {
    char high, low;
    uint8_t value;
  };
  const Row rows[] = {{'0', '0', 0x00},
                      {'0', '9', 0x09},
                      {'1', '0', 0x10},
                      {'A', '5', 0xA5},
                      {'F', 'F', 0xFF},
                      {'9', 'A', 0x9A},
                      {':', '5', 0x05},
                      {'@', '@', 0x00},
                      {'?', 'F', 0x0F},
                      {'G', '1', 0x01},
                      {'1', 'G', 0x10},
                      // outside '0'..'G' the digit counts 0
                      {'a', '1', 0x01},
                      {'/', '3', 0x03},
                      {'H', 'Z', 0x00},
                      {'\n', '7', 0x07}};
  for (const Row& row : rows) {
    EXPECT_EQ(HexByte(row.high, row.low), row.value) << row.high << row.low;
  }
}

struct ParseRow {
  const char* why;
  std::string line;
  int result;
  uint32_t address = 0;
  std::vector<uint8_t> data = {};
};

TEST(ParseSRecord, ChecksLengthCountAndChecksumOfEveryRecordKind) {
  const std::vector<ParseRow> rows = {
      {"S1 with data", "S1060100AABBCCC7\n", 3, 0x0100, {0xAA, 0xBB, 0xCC}},
      {"S2 address of three bytes", "S207010020010203D1\n", 3, 0x010020, {0x01, 0x02, 0x03}},
      {"S3 address of four bytes",
       "S309010400001605FFFFD8\n",
       4,
       0x01040000,
       {0x16, 0x05, 0xFF, 0xFF}},
      {"lower-case letter and digits", "s1060100aabbccc7\n", 3, 0x0100, {0xAA, 0xBB, 0xCC}},
      {"characters before the S are ignored",
       "xyz S1060100AABBCCC7\n",
       3,
       0x0100,
       {0xAA, 0xBB, 0xCC}},
      {"a known S1 line",
       "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n",
       28,
       0x0000,
       {0x7C, 0x08, 0x02, 0xA6, 0x90, 0x01, 0x00, 0x04, 0x94, 0x21, 0xFF, 0xF0, 0x7C, 0x6C,
        0x1B, 0x78, 0x7C, 0x8C, 0x23, 0x78, 0x3C, 0x60, 0x00, 0x00, 0x38, 0x63, 0x00, 0x00}},
      {"S1 count 3: no data, right checksum", "S1030100FB\n", 0},
      {"S1 count 2 leaves no room for address and checksum", "S1020100\n", -1},
      {"S3 count 4 leaves no room either", "S30401040000\n", -1},
      {"S1 with a wrong checksum", "S1060100AABBCCC6\n", -1},
      {"S0 header", "S00F000068656C6C6F202020202000003C\n", 0},
      {"S0 with a wrong checksum is still skipped", "S00F000068656C6C6F2020202020000000\n", 0},
      {"S5 count", "S5030003F9\n", 0},
      {"S7 end", "S70501040000F5\n", 0},
      {"S8 end", "S804010000FA\n", 0},
      {"S9 end", "S9030000FC\n", 0},
      {"an unknown type of the right length", "S4030000FC\n", 0},
      {"empty line", "", -1},
      {"blank line", "\n", -1},
      {"no S at all", "1060100AABBCCC7\n", -1},
      {"last record without a line end", "S1060100AABBCCC7", -1},
      {"trailing blank after the checksum", "S1060100AABBCCC7 \n", -1},
      {"one character too many", "S1060100AABBCCC77\n", -1},
      {"S alone", "S\n", -1},
      {"S and type only", "S1\n", -1},
      {"S0 of the wrong length", "S0030000\n", -1},
  };
  for (const ParseRow& row : rows) {
    uint32_t address = 0xDEADBEEF;
    uint8_t data[256] = {};
    const int result = ParseSRecord(row.line, address, data);
    EXPECT_EQ(result, row.result) << row.why;
    if (row.result > 0) {
      EXPECT_EQ(address, row.address) << row.why;
      EXPECT_EQ(std::vector<uint8_t>(data, data + result), row.data) << row.why;
    }
  }
}

TEST(ParseSRecord, TakesTheLongestRecordsThatFitTheLineBuffer) {
  // Count 255 with a two-byte address carries 252 data bytes; the parser alone has no line limit.
  std::vector<uint8_t> bytes(252);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  uint32_t address = 0;
  uint8_t data[256] = {};
  EXPECT_EQ(ParseSRecord(test::SRecordLine(1, 0x1234, bytes) + "\n", address, data), 252);
  EXPECT_EQ(address, 0x1234u);
  EXPECT_EQ(std::vector<uint8_t>(data, data + 252), bytes);
}

TEST(ParseSRecord, GeneratedRecordsOfEveryTypeAndCaseRoundTrip) {
  for (int type = 1; type <= 3; ++type) {
    for (bool lower : {false, true}) {
      const std::vector<uint8_t> bytes = {0x00, 0x10, 0xAB, 0xFF, 0x5A};
      const uint32_t where = type == 1 ? 0xBEEF : type == 2 ? 0xABCDEF : 0x010400F0;
      uint32_t address = 0;
      uint8_t data[256] = {};
      ASSERT_EQ(ParseSRecord(test::SRecordLine(type, where, bytes, lower) + "\n", address, data), 5)
          << type << lower;
      EXPECT_EQ(address, where);
      EXPECT_EQ(std::vector<uint8_t>(data, data + 5), bytes);
    }
  }
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Debian's srecord tools read the generated images as real S-records: every checksum holds, no
// line is ignored, and the bytes they load are the image's.
TEST(GeneratedFirmware, ReadsTheSameInTheSrecordTools) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "no srec_cat";
  struct Case {
    int type;
    uint32_t address, size;
    int recordLength;
    bool crlf, lower;
  };
  const Case cases[] = {
      {3, 0x01040000, 4096, 32, false, false}, {3, 0x01040000, 1001, 250, true, false},
      {3, 0x0107FFF0, 333, 1, false, true},    {2, 0x00FF0000, 777, 16, true, true},
      {1, 0x00001000, 555, 28, false, false},  {1, 0x0000F000, 4096, 64, true, true}};
  test::ImageTempDir dir;
  for (const Case& c : cases) {
    test::FirmwareParams params;
    params.version = 9;
    params.address = c.address;
    params.size = c.size;
    params.recordLength = c.recordLength;
    params.style.type = c.type;
    params.style.crlf = c.crlf;
    params.style.lowerCase = c.lower;
    const test::FirmwareImage image = test::MakeFirmwareImage(params);
    ASSERT_FALSE(image.text.empty());
    std::string text = image.text;
    // srecord takes lower-case digits but only a capital record letter.
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == 's' && (i == 0 || text[i - 1] == '\n')) text[i] = 'S';
    }
    const std::string source = dir.File("image.srec");
    const std::string binary = dir.File("image.bin");
    const std::string errors = dir.File("errors.txt");
    ASSERT_TRUE(test::WriteTextFile(source, text));
    const std::string command = "srec_cat " + source + " -offset -" + std::to_string(c.address) +
                                " -o " + binary + " -binary 2>" + errors;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(ReadAll(errors), "") << "type " << c.type;
    const std::string loaded = ReadAll(binary);
    EXPECT_EQ(std::vector<uint8_t>(loaded.begin(), loaded.end()), image.bytes) << "type " << c.type;
  }
}

// The backup reader keeps its own image between files: each file must be read as if it were the
// first, and a refused one must leave the caller's image as it was.
TEST(BackupFile, EachFileIsReadAloneWhateverWasReadBefore) {
  test::ImageTempDir dir;
  const std::string path = dir.File("backup.s19");
  FlashContents contents;
  BackupFileProblem problem;
  const auto read = [&](const std::string& records) {
    EXPECT_TRUE(test::WriteTextFile(path, "S0050000414277\n" + records + "S70500000000FA\n"));
    return ReadBackupFile(path, contents, problem);
  };
  ASSERT_TRUE(read("S3090100800011223344CB\n")) << problem.what;
  EXPECT_EQ(contents.bytes[0x8000], 0x11);
  EXPECT_EQ(contents.header, "AB");
  // Other bytes at the same address, in another file, are no conflict; nothing of the first stays.
  ASSERT_TRUE(read("S3090100800055667788BB\nS3060100C000AB8D\n")) << problem.what;
  EXPECT_EQ(contents.bytes[0x8000], 0x55);
  EXPECT_EQ(contents.bytes[0xC000], 0xAB);
  EXPECT_TRUE(contents.present[0xC000]);
  EXPECT_FALSE(contents.present[0xC001]);
  // Refused at line 4, after line 2 marked 0x01010000: the caller's image is the last file's.
  const FlashContents before = contents;
  EXPECT_FALSE(read("S3090101000001020304EA\nS3090100800011223344CB\nS3060100800299DD\n"));
  EXPECT_EQ(problem.line, 4);
  EXPECT_NE(problem.what.find("0x01008002 other bytes"), std::string::npos) << problem.what;
  EXPECT_TRUE(contents.bytes == before.bytes && contents.present == before.present);
  // What the refused file marked is gone too.
  ASSERT_TRUE(read("S3090101000009080706D6\nS3060100800299DD\n")) << problem.what;
  EXPECT_EQ(contents.bytes[0x10000], 0x09);
  EXPECT_EQ(contents.bytes[0x8002], 0x99);
  EXPECT_FALSE(contents.present[0x8000]);
  EXPECT_EQ(std::count(contents.present.begin(), contents.present.end(), true), 5);
}

// Bytes in memory read as the same file on disk does, and the sectors the reader names are the
// ones TouchedSectors finds in the image, a record across a sector boundary counting in both.
TEST(BackupFile, TextReadsAsTheFileDoesAndNamesTheSectorsItGivesBytesIn) {
  struct Row {
    std::vector<test::SRecordData> records;
    bool crlf;
    std::vector<uint32_t> sectors;
  };
  const std::vector<uint8_t> run(32, 0x5A);
  const Row rows[] = {
      {{{0x01008000, {0x11}}}, false, {0x01008000}},
      {{{0x0100BFF0, run}}, true, {0x01008000, 0x0100C000}},
      {{{0x010FFFFF, {0x01}}, {0x0103FFFF, {0x02, 0x03}}},
       false,
       {0x01010000, 0x01040000, 0x010C0000}},
  };
  test::ImageTempDir dir;
  const std::string path = dir.File("backup.s19");
  const auto readText = [&path](const std::string& text, FlashContents& contents,
                                BackupFileProblem& problem, std::vector<uint32_t>* sectors) {
    return ReadBackupText(reinterpret_cast<const uint8_t*>(text.data()), text.size(), path,
                          contents, problem, sectors);
  };
  for (const Row& row : rows) {
    test::SRecordStyle style;
    style.crlf = row.crlf;
    const std::string text = test::SRecordFile(row.records, style);
    ASSERT_TRUE(test::WriteTextFile(path, text));
    FlashContents fromFile, fromText;
    BackupFileProblem problem;
    ASSERT_TRUE(ReadBackupFile(path, fromFile, problem)) << problem.what;
    std::vector<uint32_t> sectors;
    ASSERT_TRUE(readText(text, fromText, problem, &sectors)) << problem.what;
    EXPECT_EQ(sectors, row.sectors);
    EXPECT_EQ(TouchedSectors(fromText), row.sectors);
    EXPECT_TRUE(fromText.bytes == fromFile.bytes && fromText.present == fromFile.present);
    EXPECT_EQ(fromText.header, fromFile.header);
  }
  // Refused alike, at the same line and for the same reason.
  for (const std::string text : {"S0050000414277\nS3060100800011DF\n", "S70500000000FA\n"}) {
    ASSERT_TRUE(test::WriteTextFile(path, text));
    FlashContents contents;
    BackupFileProblem fromFile, fromText;
    EXPECT_FALSE(ReadBackupFile(path, contents, fromFile));
    EXPECT_FALSE(readText(text, contents, fromText, nullptr));
    EXPECT_EQ(fromText.line, fromFile.line);
    EXPECT_EQ(fromText.what, fromFile.what);
    EXPECT_FALSE(fromFile.what.empty());
  }
  // A file that cannot be opened, and one that opens but cannot be read (a directory, on a system
  // that opens one), are told apart.
  FlashContents contents;
  BackupFileProblem problem;
  EXPECT_FALSE(ReadBackupFile(dir.File("missing.s19"), contents, problem));
  EXPECT_EQ(problem.what, "cannot open " + dir.File("missing.s19"));
#ifndef _WIN32
  EXPECT_FALSE(ReadBackupFile(dir.Path(), contents, problem));
  EXPECT_EQ(problem.line, 0);
  EXPECT_EQ(problem.what, "read error");
#endif
}

}  // namespace
}  // namespace vanta
