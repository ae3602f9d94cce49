#include "update/firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/loader.h"
#include "tests/support/fake_loader.h"
#include "tests/support/image_gen.h"
#include "update/flash_backup.h"

namespace vanta {
namespace {

using test::Bytes;
using test::FakeLoader;
using test::SRecordLine;

constexpr const char* kErasing = "Firmware: Erasing Flash ...";
constexpr const char* kProgramming = "Firmware: Programming Flash ...";
constexpr const char* kPassed = "Firmware: Programming Flash ... passed!";
constexpr const char* kFailed = "Firmware: Programming Flash ... failed!";

TEST(ShowPercent, ShowsAPercentageOnlyWhenItChangesAndRemembersItPerDisplay) {
  std::vector<std::string> shown;
  const StatusSink sink = [&shown](const std::string& text) { shown.push_back(text); };
  const char* format = "Firmware: Programming Flash ... ( %u%% )";
  ProgressDisplay display, other;
  ShowPercent(format, sink, display, 200, 0);  // 0 equals the starting value: nothing shown
  ShowPercent(format, sink, display, 200, 1);
  ShowPercent(format, sink, display, 200, 2);
  ShowPercent(format, sink, display, 200, 3);
  ShowPercent(format, sink, display, 200, 200);
  ShowPercent(format, sink, other, 200, 200);  // another display keeps its own value
  ShowPercent(format, sink, display, 200, 200);
  ShowPercent(format, sink, display, 0, 10);  // a length the system could not tell
  EXPECT_EQ(shown, (std::vector<std::string>{"Firmware: Programming Flash ... ( 1% )",
                                             "Firmware: Programming Flash ... ( 100% )",
                                             "Firmware: Programming Flash ... ( 100% )"}));
  EXPECT_EQ(display.lastShown, 100);
  EXPECT_EQ(other.lastShown, 100);
}

class FirmwareProgramming : public ::testing::Test {
 protected:
  ResultCode Program(const std::string& text, FirmwareOptions options = {}) {
    EXPECT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.001"), text));
    options.imageDirs = {dir.Path()};
    return ProgramFirmware(loader.Link(), 1, sink, progress, options).code;
  }
  // The erase requests' sector addresses and the program requests' (address, data) in order.
  std::vector<uint32_t> Erased() const {
    std::vector<uint32_t> sectors;
    for (const Bytes& r : loader.Requests(LDR_ERASE_SECTOR)) {
      sectors.push_back((uint32_t{r[1]} << 24) | (uint32_t{r[2]} << 16) | (r[3] << 8) | r[4]);
    }
    return sectors;
  }
  struct Write {
    uint32_t address;
    Bytes data;
    bool operator==(const Write&) const = default;
  };
  std::vector<Write> Writes() const {
    std::vector<Write> writes;
    for (const Bytes& r : loader.Requests(LDR_PROGRAM)) {
      const uint32_t address = (uint32_t{r[1]} << 24) | (uint32_t{r[2]} << 16) | (r[3] << 8) | r[4];
      const size_t count = (r[5] << 8) | r[6];
      EXPECT_EQ(r.size(), 7 + count);
      writes.push_back({address, Bytes(r.begin() + 7, r.end())});
    }
    return writes;
  }
  static Write Marker() { return {0x01040000, {0xAA, 0x55, 0x55, 0xAA}}; }

  test::ImageTempDir dir;
  FakeLoader loader;
  ProgressDisplay progress;
  std::vector<std::string> statuses;
  StatusSink sink = [this](const std::string& text) { statuses.push_back(text); };
};

TEST_F(FirmwareProgramming, AFileThatCannotBeOpenedLeavesStatusAndProbeAlone) {
  for (ImageVersion version : {0, 2, 256, 300}) {
    EXPECT_EQ(ProgramFirmware(loader.Link(), version, sink, progress, {{dir.Path()}}).code,
              LDR_E_FIRMWARE_FILE);
  }
  EXPECT_TRUE(statuses.empty());
  EXPECT_TRUE(loader.requests.empty());
}

TEST_F(FirmwareProgramming, ABadRecordOrNoDataAtAllEndsTheRunBeforeAnythingIsErased) {
  const std::string good = SRecordLine(3, 0x01040100, {1, 2, 3, 4, 5, 6, 7, 8}) + "\n";
  std::string many;
  for (int i = 0; i < 500; ++i) many += good;
  const std::string longest = SRecordLine(3, 0x01040200, Bytes(121, 0x11)) + "\n";  // 257 chars
  struct Case {
    const char* why;
    std::string text;
  };
  const Case cases[] = {
      {"blank line", good + "\n" + good},
      {"line without an S", good + "hello\n"},
      {"last record without a line end", good + good.substr(0, good.size() - 1)},
      {"trailing blanks", good + good.substr(0, good.size() - 1) + "  \n"},
      {"line over 255 characters is cut", longest},
      {"S1 count 2", "S1020100\n"},
      {"S1 with a wrong checksum", "S1060100AABBCCC6\n"},
      {"a bad last record after 500 good ones", many + "S30500000000FB\n"},
      // Erasing for an image without data would leave the marker over empty flash.
      {"empty file", ""},
      {"only S0, S5 and S9 lines", "S00F000068656C6C6F202020202000003C\nS5030003F9\nS9030000FC\n"},
      {"only an S7 line", "S70501040000F5\n"},
      {"only an S8 line", "S804010000FA\n"},
      {"only an S1 record without data", "S1030100FB\n"},
  };
  loader.InstallFirmwareVersion(3);
  const std::vector<uint8_t> before = loader.flash;
  for (const Case& c : cases) {
    statuses.clear();
    EXPECT_EQ(Program(c.text), LDR_E_FIRMWARE_FILE) << c.why;
    EXPECT_EQ(statuses, std::vector<std::string>{kFailed}) << c.why;
    EXPECT_TRUE(loader.requests.empty()) << c.why;
  }
  EXPECT_EQ(loader.flash, before);
}

TEST(FirmwareImageParse, NamesTheLineOfTheFirstBadRecord) {
  const std::string good = SRecordLine(3, 0x01040100, {1, 2, 3, 4}) + "\n";
  const std::string cut = SRecordLine(3, 0x01040200, Bytes(121, 0x11)) + "\n";  // 257 characters
  struct Row {
    std::string text;
    uint32_t line;  // 0 with ok: parsed
    bool ok;
  };
  const Row rows[] = {
      {good + good, 0, true},
      {good + good + good + "S1FF\n" + good, 4, false},
      {good + "\r\n" + good, 2, false},  // CR LF is one line end
      {cut, 1, false},                   // cut after 255 characters: its checksum is missing
      {"", 0, false},                    // no data record at all
      {"S9030000FC\n", 0, false},
  };
  for (const Row& row : rows) {
    std::vector<ImageLine> lines;
    ParseProblem problem;
    const auto* text = reinterpret_cast<const uint8_t*>(row.text.data());
    EXPECT_EQ(ParseFirmwareImage(text, row.text.size(), lines, problem), row.ok) << row.text;
    EXPECT_EQ(problem.line, row.line) << row.text;
  }
}

TEST_F(FirmwareProgramming, WritesEachRecordAtItsAddressPaddedToWholeWordsAndTheMarkerLast) {
  const Bytes longest(120, 0x3C);  // count 125: the longest record that fits a 255-character read
  const std::string text = "S00600004844521B\n" + SRecordLine(3, 0x01040100, {1, 2, 3, 4, 5}) +
                           "\n" + SRecordLine(3, 0x01040108, {6, 7, 8, 9}) + "\n" +
                           "S1030100FB\n"                            // no data: skipped
                           "S00F000068656C6C6F2020202020000000\n" +  // wrong checksum: skipped
                           SRecordLine(3, 0x01040000, {0xFF, 0xFF, 0xFF, 0xFF, 0x16, 0x07}, true) +
                           "\n" + SRecordLine(3, 0x01020000, {0xA5}) + "\n" +
                           SRecordLine(3, 0x01040200, longest) + "\n" + "S70501040000F5\n";
  ASSERT_EQ(Program(text), RESULT_OK);
  const std::vector<Write> expected = {
      {0x01040100, {1, 2, 3, 4, 5, 0xFF, 0xFF, 0xFF}},
      {0x01040108, {6, 7, 8, 9}},
      {0x01040000, {0xFF, 0xFF, 0xFF, 0xFF, 0x16, 0x07, 0xFF, 0xFF}},
      {0x01020000, {0xA5, 0xFF, 0xFF, 0xFF}},  // outside the erased sectors: not filtered
      {0x01040200, longest},
      Marker(),
  };
  EXPECT_EQ(Writes(), expected);
  EXPECT_EQ(loader.Codes().front(), LDR_ERASE_SECTOR);
  EXPECT_EQ(statuses.back(), kPassed);
}

TEST_F(FirmwareProgramming, AnImageThatCarriesTheMarkerIsMarkedOnlyOnceItIsAllWritten) {
  // The first record holds AA 55 55 AA itself: written with it, a run that stops at the second
  // record would leave half an image that the loader starts.
  const std::string text = SRecordLine(3, 0x01040000, {0xAA, 0x55, 0x55, 0xAA, 0x16, 0x01}) + "\n" +
                           SRecordLine(3, 0x01040100, {1, 2, 3, 4}) + "\n";
  loader.failProgramAt = 1;
  EXPECT_EQ(Program(text), LDR_E_PROGRAM);
  EXPECT_EQ(loader.Flash(0x01040000, 4), Bytes(4, 0xFF));
  loader.failProgramAt = -1;
  ASSERT_EQ(Program(text), RESULT_OK);
  EXPECT_EQ(Writes().back(), Marker());
  EXPECT_EQ(loader.Flash(0x01040000, 6), (Bytes{0xAA, 0x55, 0x55, 0xAA, 0x16, 0x01}));
}

TEST_F(FirmwareProgramming, LineEndsAndLetterCaseDoNotChangeTheFlash) {
  test::FirmwareParams params;
  params.size = 3000;
  params.recordLength = 29;
  const test::FirmwareImage plain = test::MakeFirmwareImage(params);
  ASSERT_EQ(Program(plain.text), RESULT_OK);
  EXPECT_EQ(loader.Flash(plain.address, params.size), test::ExpectedFlash(plain));

  FakeLoader other;
  params.style.crlf = true;
  params.style.lowerCase = true;
  EXPECT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.002"), test::MakeFirmwareImage(params).text));
  ASSERT_EQ(ProgramFirmware(other.Link(), 2, sink, progress, {{dir.Path()}}).code, RESULT_OK);
  EXPECT_EQ(other.flash, loader.flash);
}

TEST_F(FirmwareProgramming, AnEraseFailureStopsAtThatSector) {
  loader.failEraseSector = 0x01080000;
  EXPECT_EQ(Program(test::MakeFirmwareImage({}).text), LDR_E_ERASE);
  EXPECT_EQ(Erased(), (std::vector<uint32_t>{0x01040000, 0x01080000}));
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(statuses, (std::vector<std::string>{kErasing, "Firmware: Erasing Flash ... failed!"}));
}

TEST_F(FirmwareProgramming, AProgramFailureAtARecordLeavesTheRestAndTheMarkerUnwritten) {
  test::FirmwareParams params;
  params.size = 20 * 32;
  const test::FirmwareImage image = test::MakeFirmwareImage(params);
  loader.failProgramAt = 7;
  EXPECT_EQ(Program(image.text), LDR_E_PROGRAM);
  const std::vector<Write> writes = Writes();
  ASSERT_EQ(writes.size(), 8u);
  EXPECT_EQ(writes.back().address, image.records[7].address);
  EXPECT_EQ(loader.Flash(0x01040000, 4), Bytes(4, 0xFF)) << "no marker";
  // The failure shows at once, then the failing line's progress, then the failure again.
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 3], kFailed);
  EXPECT_EQ(statuses[statuses.size() - 2], "Firmware: Programming Flash ... ( 41% )");
  EXPECT_EQ(statuses.back(), kFailed);

  // The marker write failing is a failure as well.
  loader.ClearRequests();
  loader.failProgramAt = 20 + 8;  // the 20 records after the 8 of the first run
  statuses.clear();
  EXPECT_EQ(Program(image.text), LDR_E_PROGRAM);
  EXPECT_EQ(Writes().back(), Marker());
  EXPECT_EQ(statuses.back(), kFailed);
}

TEST_F(FirmwareProgramming, ProgressRisesWithTheFilePositionAndIsKeptForTheNextRun) {
  test::FirmwareParams params;
  params.size = 4096;
  ASSERT_EQ(Program(test::MakeFirmwareImage(params).text), RESULT_OK);
  std::vector<unsigned> percents;
  for (const std::string& s : statuses) {
    unsigned p = 0;
    if (std::sscanf(s.c_str(), "Firmware: Programming Flash ... ( %u%% )", &p) == 1) {
      percents.push_back(p);
    }
  }
  ASSERT_FALSE(percents.empty());
  EXPECT_GT(percents.front(), 0u) << "the first run never shows 0";
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]);
  EXPECT_EQ(percents.back(), 100u);
  EXPECT_EQ(statuses.back(), kPassed);

  // A one-line image reaches 100 at once, which the display already shows: no percentage.
  statuses.clear();
  ASSERT_EQ(Program(SRecordLine(3, 0x01040100, {1, 2, 3, 4}) + "\n"), RESULT_OK);
  EXPECT_EQ(statuses, (std::vector<std::string>{kErasing, kProgramming, kPassed}));
}

// Records in random order with gaps, overlaps, odd lengths and contiguous runs.
std::string ScatteredImage(uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state](uint32_t n) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state % n;
  };
  std::vector<test::SRecordData> records;
  uint32_t address = 0x01040000 + next(64);
  for (int i = 0, n = 20 + static_cast<int>(next(100)); i < n; ++i) {
    Bytes bytes(1 + next(40));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(next(256));
    records.push_back({address, bytes});
    switch (next(4)) {
      case 0:
        address += static_cast<uint32_t>(bytes.size()) + next(9);
        break;  // gap
      case 1:
        address += static_cast<uint32_t>(bytes.size()) - next(static_cast<uint32_t>(bytes.size()));
        break;
      case 2:
        address = 0x01040000 + next(3000);
        break;  // anywhere, marker included
      default:
        address += static_cast<uint32_t>(bytes.size());
        break;  // contiguous
    }
  }
  return test::SRecordFile(records);
}

TEST_F(FirmwareProgramming, MergedWritesLeaveExactlyTheFlashOfPerRecordWrites) {
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    const std::string text = ScatteredImage(seed);
    FakeLoader perRecord, merged;
    EXPECT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.001"), text));
    ASSERT_EQ(ProgramFirmware(perRecord.Link(), 1, sink, progress, {{dir.Path()}}).code, RESULT_OK);
    FirmwareOptions fast{{dir.Path()}};
    fast.mergeRecords = true;
    ASSERT_EQ(ProgramFirmware(merged.Link(), 1, sink, progress, fast).code, RESULT_OK);
    EXPECT_EQ(merged.flash, perRecord.flash) << "seed " << seed;
    const std::vector<Bytes> writes = merged.Requests(LDR_PROGRAM);
    EXPECT_LT(writes.size(), perRecord.Requests(LDR_PROGRAM).size()) << "seed " << seed;
    for (const Bytes& w : writes) {
      EXPECT_LE(w.size() - 7, 1024u);
      EXPECT_EQ((w.size() - 7) % 4, 0u);
    }
    EXPECT_EQ(writes.back(), perRecord.Requests(LDR_PROGRAM).back()) << "the marker goes last";
  }

  // Runs of 0xFF: the erase left them, so merged writes leave the long ones out. The offsets are
  // from the image start, which is word aligned; the merged writes cut it into whole kilobytes.
  struct Run {
    uint32_t from, to;
    bool sent;  // bytes [from, to) still go on the wire
  };
  const Run runs[] = {
      {0, 96, false},       // at the image start, under the marker
      {300, 340, true},     // 40 bytes: too short to cut a write for
      {402, 600, false},    // unaligned ends: the words wholly inside are left out
      {1000, 1024, true},   // the tail of a kilobyte: 24 bytes at the end of one write ...
      {1024, 1100, false},  // ... and 76 at the start of the next, the same run
      {2048, 3072, false},  // a whole kilobyte: no write at all
      {3072, 3130, true},   // 58 bytes go on with the run before, as the start of a write
      {3900, 4000, false},  // the image's end
  };
  const uint32_t size = 4000;
  Bytes image(size);
  for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i % 251);  // no 0xFF
  for (const Run& run : runs) std::fill(image.begin() + run.from, image.begin() + run.to, 0xFF);
  std::vector<test::SRecordData> records;
  for (uint32_t at = 0; at < size; at += 32) {
    records.push_back({0x01040000 + at, Bytes(image.begin() + at, image.begin() + at + 32)});
  }
  EXPECT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.001"), test::SRecordFile(records)));
  FakeLoader perRecord, merged;
  ASSERT_EQ(ProgramFirmware(perRecord.Link(), 1, sink, progress, {{dir.Path()}}).code, RESULT_OK);
  FirmwareOptions fast{{dir.Path()}};
  fast.mergeRecords = true;
  ASSERT_EQ(ProgramFirmware(merged.Link(), 1, sink, progress, fast).code, RESULT_OK);
  EXPECT_EQ(merged.flash, perRecord.flash);
  EXPECT_EQ(merged.Requests(LDR_PROGRAM).back(), perRecord.Requests(LDR_PROGRAM).back())
      << "the marker goes last";
  std::vector<bool> written(size, false);
  size_t sent = 0;
  const std::vector<Bytes> writes = merged.Requests(LDR_PROGRAM);
  for (size_t w = 0; w + 1 < writes.size(); ++w) {  // the marker aside
    const Bytes& r = writes[w];
    const uint32_t address = (uint32_t{r[1]} << 24) | (uint32_t{r[2]} << 16) | (r[3] << 8) | r[4];
    const uint32_t count = static_cast<uint32_t>(r.size() - 7);
    EXPECT_EQ(address % 4, 0u);
    EXPECT_EQ(count % 4, 0u);
    EXPECT_LE(count, 1024u);
    sent += count;
    for (uint32_t i = address - 0x01040000; i < address - 0x01040000 + count && i < size; ++i) {
      written[i] = true;
    }
  }
  for (const Run& run : runs) {
    // Words that lie wholly inside a run left out are not sent; a run that is sent is whole.
    const uint32_t from = run.sent ? run.from : (run.from + 3) / 4 * 4;
    const uint32_t to = run.sent ? run.to : run.to / 4 * 4;
    for (uint32_t i = from; i < to; ++i) {
      EXPECT_EQ(written[i], run.sent) << "offset " << i;
      if (written[i] != run.sent) break;
    }
  }
  EXPECT_EQ(sent, size_t{4000 - 96 - 196 - 76 - 1024 - 100});

  // --no-skip-erased: every byte goes on the wire, for the same flash.
  FakeLoader unskipped;
  fast.skipErasedRuns = false;
  ASSERT_EQ(ProgramFirmware(unskipped.Link(), 1, sink, progress, fast).code, RESULT_OK);
  EXPECT_EQ(unskipped.flash, perRecord.flash);
  const std::vector<Bytes> all = unskipped.Requests(LDR_PROGRAM);
  size_t allSent = 0;
  for (size_t w = 0; w + 1 < all.size(); ++w) allSent += all[w].size() - 7;
  EXPECT_EQ(allSent, size_t{size});
}

TEST_F(FirmwareProgramming, MergedWritesFillWholeKilobytes) {
  test::FirmwareParams params;
  params.size = 4096 + 20;
  params.recordLength = 32;
  FirmwareOptions fast;
  fast.mergeRecords = true;
  const test::FirmwareImage image = test::MakeFirmwareImage(params);
  ASSERT_EQ(Program(image.text, fast), RESULT_OK);
  const std::vector<Write> writes = Writes();
  ASSERT_EQ(writes.size(), 6u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(writes[i].address, 0x01040000u + 1024 * i);
  EXPECT_EQ(writes[4].data.size(), 20u);
  EXPECT_EQ(writes[5], Marker());
  EXPECT_EQ(loader.Flash(image.address, params.size), test::ExpectedFlash(image));
  EXPECT_EQ(statuses.back(), kPassed);
}

TEST_F(FirmwareProgramming, VerificationReadsTheImageBackAndNamesTheFirstDifference) {
  test::FirmwareParams params;
  params.size = 5000;
  const test::FirmwareImage image = test::MakeFirmwareImage(params);
  FirmwareOptions verify;
  verify.imageDirs = {dir.Path()};
  verify.verifyReadBack = true;
  ASSERT_EQ(Program(image.text, verify), RESULT_OK);
  EXPECT_EQ(statuses.back(), "Firmware: Verifying Flash ... passed!");
  uint32_t covered = 0;
  for (const Bytes& r : loader.Requests(LDR_READ_MEMORY)) {
    const uint32_t count = (r[5] << 8) | r[6];
    EXPECT_LE(count, 1024u);
    covered += count;
  }
  EXPECT_EQ(covered, params.size);

  // The 40th write stores one bit wrong (bit 2 of its sixth byte). Merged writes rewrite the
  // sector once and pass; record by record the run fails there.
  for (bool merge : {false, true}) {
    FakeLoader corrupt;
    int writes = 0;
    uint32_t wrong = 0;
    corrupt.script = [&](const Bytes& r, int, std::optional<Bytes>& reply) {
      if (r[0] != LDR_PROGRAM || writes++ != (merge ? 2 : 40)) return false;
      const uint32_t address = (uint32_t{r[1]} << 24) | (uint32_t{r[2]} << 16) | (r[3] << 8) | r[4];
      for (size_t i = 7; i < r.size(); ++i) {
        corrupt.flash[address - FakeLoader::kFlashBase + i - 7] &= r[i];
      }
      wrong = address + 5;
      corrupt.flash[wrong - FakeLoader::kFlashBase] ^= 0x04;
      reply = Bytes{LDR_PROGRAM, 0, 0, 0, 0, 0};
      return true;
    };
    verify.mergeRecords = merge;
    statuses.clear();
    const FirmwareResult run = ProgramFirmware(corrupt.Link(), 1, sink, progress, verify);
    EXPECT_EQ(run.code, merge ? RESULT_OK : LDR_E_VERIFY);
    EXPECT_EQ(run.differs, !merge);
    if (!merge) {
      EXPECT_EQ(run.firstDifference, wrong);
    }
    EXPECT_EQ(statuses.back(), merge ? "Firmware: Verifying Flash ... passed!"
                                     : "Firmware: Verifying Flash ... failed!");
  }

  // A read-back without an answer is that failure.
  loader.script = [](const Bytes& r, int, std::optional<Bytes>& reply) {
    reply.reset();
    return r[0] == LDR_READ_MEMORY;
  };
  EXPECT_EQ(Program(image.text, verify), SESSION_E_NO_REPLY);
  EXPECT_EQ(statuses.back(), "Firmware: Verifying Flash ... failed!");
}

uint32_t AddressOf(const Bytes& r) {
  return (uint32_t{r[1]} << 24) | (uint32_t{r[2]} << 16) | (r[3] << 8) | r[4];
}

// Answers every other LDR_READ_MEMORY with one bit flipped in its data inside a frame whose check
// passes, as two flips of one bit position on the line do; the other half the model answers.
bool NoisyRead(FakeLoader& loader, int& reads, const Bytes& r, std::optional<Bytes>& reply) {
  if (r[0] != LDR_READ_MEMORY || reads++ % 2 != 0) return false;
  const uint16_t count = static_cast<uint16_t>((r[5] << 8) | r[6]);
  Bytes out(r.begin(), r.begin() + 7);
  std::vector<uint8_t> bytes = loader.Flash(AddressOf(r), count);
  bytes[(reads * 37) % count] ^= static_cast<uint8_t>(1 << (reads % 8));
  out.insert(out.end(), bytes.begin(), bytes.end());
  reply = out;
  return true;
}

// Every path that writes flash keeps the same rules: the marker after every other byte, runs of
// 0xFF left to the erase where the path skips them, and a read-back that a noisy reply does not
// turn into a difference.
TEST(FlashWritePaths, MarkerLastErasedRunsLeftOutAndNoisyRepliesReadAgain) {
  test::FirmwareParams params;
  params.size = 16 * 1024;
  params.gapFill = 2048;  // 8 KiB of the image in runs of 0xFF
  const test::FirmwareImage image = test::MakeFirmwareImage(params);
  const std::vector<uint8_t> expected = test::ExpectedFlash(image);
  enum class Path { PerRecord, Fast, SectorRewrite, Restore };
  struct Row {
    const char* name;
    Path path;
    bool skipsErasedRuns;
  };
  for (const Row& row :
       {Row{"per-record firmware", Path::PerRecord, false},
        Row{"--fast firmware", Path::Fast, true},
        Row{"sector rewrite after a read-back that differs", Path::SectorRewrite, true},
        Row{"restore", Path::Restore, true}}) {
    SCOPED_TRACE(row.name);
    test::ImageTempDir dir;
    FakeLoader loader;
    ProgressDisplay progress;
    const StatusSink sink = [](const std::string&) {};
    int reads = 0;
    int writes = 0;
    loader.script = [&](const Bytes& r, int, std::optional<Bytes>& reply) {
      if (r[0] == LDR_PROGRAM && row.path == Path::SectorRewrite && writes++ == 2) {
        // The write is stored with one bit cleared that should stay set: only an erase mends it.
        const uint32_t address = AddressOf(r);
        for (size_t i = 7; i < r.size(); ++i) {
          loader.flash[address - FakeLoader::kFlashBase + i - 7] &= r[i];
        }
        for (size_t i = 7; i < r.size(); ++i) {
          uint8_t& byte = loader.flash[address - FakeLoader::kFlashBase + i - 7];
          if (byte == 0) continue;
          byte &= static_cast<uint8_t>(byte - 1);
          break;
        }
        reply = Bytes{LDR_PROGRAM, 0, 0, 0, 0, 0};
        return true;
      }
      return NoisyRead(loader, reads, r, reply);
    };
    if (row.path == Path::Restore) {
      FlashContents contents;
      contents.header = "vantaLink backup serial " + loader.serialNumber + " loader 1.2";
      const size_t at = FIRMWARE_SECTOR - kFlashBase;
      std::copy(expected.begin(), expected.end(), contents.bytes.begin() + at);
      std::fill(contents.present.begin() + at,
                contents.present.begin() + at + (SectorEnd(FIRMWARE_SECTOR) - FIRMWARE_SECTOR),
                true);
      const RestoreResult restored =
          RestoreFlash(loader.Link(), contents, {loader.serialNumber}, sink, progress);
      ASSERT_TRUE(restored.outcome.passed) << restored.outcome.address;
    } else {
      ASSERT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.001"), image.text));
      FirmwareOptions options;
      options.imageDirs = {dir.Path()};
      options.mergeRecords = row.path != Path::PerRecord;
      options.verifyReadBack = true;
      const FirmwareResult run = ProgramFirmware(loader.Link(), 1, sink, progress, options);
      ASSERT_EQ(run.code, RESULT_OK) << run.firstDifference;
      EXPECT_EQ(run.rewrittenSectors, row.path == Path::SectorRewrite ? 1u : 0u);
    }
    EXPECT_EQ(loader.Flash(FIRMWARE_SECTOR, params.size), expected);
    EXPECT_GT(reads, 1);

    // The path's own writes: those since its last erase of the firmware sector (for the rewrite,
    // the rewrite's).
    std::vector<Bytes> written;
    for (const Bytes& r : loader.requests) {
      if (r[0] == LDR_ERASE_SECTOR && AddressOf(r) == FIRMWARE_SECTOR) written.clear();
      if (r[0] == LDR_PROGRAM) written.emplace_back(r);
    }
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(AddressOf(written.back()), FIRMWARE_SECTOR);
    EXPECT_EQ(Bytes(written.back().begin() + 7, written.back().end()),
              (Bytes{0xAA, 0x55, 0x55, 0xAA}));
    size_t erasedSent = 0;
    for (size_t w = 0; w < written.size(); ++w) {
      const uint32_t address = AddressOf(written[w]);
      for (size_t i = 7; i < written[w].size(); ++i) {
        const uint64_t byteAt = uint64_t{address} + i - 7;
        const uint8_t byte = written[w][i];
        erasedSent += byte == 0xFF ? 1 : 0;
        if (w + 1 < written.size() && byteAt >= FIRMWARE_SECTOR && byteAt < FIRMWARE_SECTOR + 4) {
          EXPECT_EQ(byte, 0xFF) << "a marker byte in write " << w << " of " << written.size();
        }
      }
    }
    if (row.skipsErasedRuns) {
      EXPECT_LT(erasedSent, 1024u);
    } else {
      EXPECT_GE(erasedSent, 8u * 1024);
    }
  }
}

TEST(FlashWritePaths, ABitLeftSetIsProgrammedAgainWithoutAnErase) {
  // The third --fast write leaves one bit set that it should have cleared: programming clears
  // bits, so the piece is written again in place and the sector keeps its other bytes unerased.
  test::FirmwareParams params;
  params.size = 8 * 1024;
  const test::FirmwareImage image = test::MakeFirmwareImage(params);
  test::ImageTempDir dir;
  ASSERT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.001"), image.text));
  FakeLoader loader;
  int writes = 0;
  uint32_t wrong = 0;
  loader.script = [&](const Bytes& r, int, std::optional<Bytes>& reply) {
    if (r[0] != LDR_PROGRAM || writes++ != 2) return false;
    const uint32_t address = AddressOf(r);
    for (size_t i = 7; i < r.size(); ++i) {
      const uint8_t kept = r[i] == 0xFF ? 0 : static_cast<uint8_t>(~r[i] & -~r[i]);
      uint8_t& byte = loader.flash[address - FakeLoader::kFlashBase + i - 7];
      byte &= r[i];
      if (wrong == 0 && kept != 0) {
        byte |= kept;  // the lowest bit that should read 0 reads 1
        wrong = address + static_cast<uint32_t>(i - 7);
      }
    }
    reply = Bytes{LDR_PROGRAM, 0, 0, 0, 0, 0};
    return true;
  };
  FirmwareOptions options;
  options.imageDirs = {dir.Path()};
  options.mergeRecords = true;
  options.verifyReadBack = true;
  ProgressDisplay progress;
  const FirmwareResult run = ProgramFirmware(
      loader.Link(), 1, [](const std::string&) {}, progress, options);
  ASSERT_NE(wrong, 0u);
  EXPECT_EQ(run.code, RESULT_OK);
  EXPECT_EQ(run.rewrittenSectors, 0u);
  EXPECT_EQ(loader.Requests(LDR_ERASE_SECTOR).size(), 3u) << "only the update's own erases";
  EXPECT_EQ(loader.Flash(image.address, params.size), test::ExpectedFlash(image));
  const std::vector<uint8_t> codes = loader.Codes();
  const auto firstRead = std::find(codes.begin(), codes.end(), LDR_READ_MEMORY);
  EXPECT_NE(std::find(firstRead, codes.end(), LDR_PROGRAM), codes.end())
      << "a write after the read-back began";
  EXPECT_EQ(loader.Flash(wrong, 1)[0], test::ExpectedFlash(image)[wrong - image.address]);
}

}  // namespace
}  // namespace vanta
