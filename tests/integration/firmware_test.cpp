#include "update/firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "link/loader.h"
#include "sim/virtual_probe.h"
#include "tests/support/image_gen.h"
#include "update/bulk_transfer.h"
#include "update/flash_backup.h"

namespace vanta {
namespace {

constexpr uint32_t kFirmwareArea = 0x01040000;
constexpr uint32_t kFirmwareAreaSize = 0x000C0000;  // the three sectors the update erases

// A virtual probe on a pseudo-terminal and a link to it at 115200 bit/s.
class ProbeOnPty {
 public:
  ProbeOnPty() {
    EXPECT_TRUE(probe.Start());
    EXPECT_EQ(link.OpenLink(probe.DevicePath(), 115200), RESULT_OK);
  }
  ~ProbeOnPty() { link.CloseLink(); }
  sim::VirtualProbe probe;
  ProbeLink link;
};

class FirmwareOnProbe : public ::testing::Test {
 protected:
  ResultCode Program(ProbeOnPty& target, const std::string& text, FirmwareOptions options = {},
                     FlowOutcome* outcome = nullptr) {
    EXPECT_TRUE(test::WriteTextFile(dir.File("VT7PP4FW.007"), text));
    options.imageDirs = {dir.Path()};
    last = ProgramFirmware(target.link, 7, sink, progress, options);
    if (outcome != nullptr) *outcome = last.outcome;
    return last.code;
  }
  static test::FirmwareImage Image(uint32_t size, int recordLength = 32) {
    test::FirmwareParams params;
    params.version = 7;
    params.size = size;
    params.recordLength = recordLength;
    return test::MakeFirmwareImage(params);
  }

  test::ImageTempDir dir;
  FirmwareResult last;  // what the last Program did
  ProgressDisplay progress;
  std::vector<std::string> statuses;
  StatusSink sink = [this](const std::string& text) { statuses.push_back(text); };
};

TEST_F(FirmwareOnProbe, TheProbesFlashEqualsTheImageAndItReportsTheNewVersion) {
  ProbeOnPty target;
  target.probe.InstallFirmwareVersion(3);
  target.probe.ProgramFlash(CONFIG_SECTOR, std::vector<uint8_t>(64, 0x12));  // a stored setup
  const test::FirmwareImage image = Image(64 * 1024, 32);
  ASSERT_EQ(Program(target, image.text), RESULT_OK);
  EXPECT_EQ(target.probe.ReadFlash(image.address, 64 * 1024), test::ExpectedFlash(image));
  EXPECT_EQ(target.probe.ReadFlash(CONFIG_SECTOR, 64), std::vector<uint8_t>(64, 0xFF));
  EXPECT_EQ(target.probe.StoredFirmwareVersion(), 0x1607);
  DeviceIdentity identity;
  ASSERT_EQ(ReadIdentity(target.link, identity), RESULT_OK);
  EXPECT_EQ(identity.firmwareVersion, 7);
  EXPECT_EQ(statuses.back(), "Firmware: Programming Flash ... passed!");
}

TEST_F(FirmwareOnProbe, ABadOrEmptyFileCostsTheProbeNothing) {
  ProbeOnPty target;
  target.probe.InstallFirmwareVersion(3);
  const std::vector<uint8_t> before = target.probe.ReadFlash(kFirmwareArea, kFirmwareAreaSize);
  std::string halfWayBlank = Image(8192).text;
  halfWayBlank.insert(halfWayBlank.size() / 2, "\n");
  for (const std::string& text : {halfWayBlank, std::string(), std::string("S9030000FC\n")}) {
    target.probe.ClearCommandLog();
    EXPECT_EQ(Program(target, text), LDR_E_FIRMWARE_FILE);
    EXPECT_TRUE(target.probe.CommandLog().empty());
    EXPECT_EQ(target.probe.ReadFlash(kFirmwareArea, kFirmwareAreaSize), before);
  }
  EXPECT_EQ(target.probe.StoredFirmwareVersion(), 0x1603);
}

TEST_F(FirmwareOnProbe, AFailedWriteLeavesTheFirmwareUnmarked) {
  ProbeOnPty target;
  target.probe.InstallFirmwareVersion(3);
  target.probe.Faults().failProgramAfterWrites = 40;
  EXPECT_EQ(Program(target, Image(4096).text), LDR_E_PROGRAM);
  EXPECT_EQ(target.probe.StoredFirmwareVersion(), 0);
  EXPECT_EQ(target.probe.ReadFlash(kFirmwareArea, 4), std::vector<uint8_t>(4, 0xFF));
  EXPECT_EQ(statuses.back(), "Firmware: Programming Flash ... failed!");

  // A --fast piece the probe refuses is tried again: refused once it gets through, while a sector
  // that refuses every write fails the run at its first address after the tries.
  FirmwareOptions fast;
  fast.mergeRecords = true;
  const test::FirmwareImage image = Image(8 * 1024);
  ProbeOnPty once;
  once.probe.Faults().failProgramAfterWrites = 3;
  EXPECT_EQ(Program(once, image.text, fast), RESULT_OK);
  EXPECT_EQ(once.probe.ReadFlash(image.address, 8 * 1024), test::ExpectedFlash(image));
  ProbeOnPty always;
  always.probe.Faults().failProgramSector = kFirmwareArea;
  FlowOutcome outcome;
  EXPECT_EQ(Program(always, image.text, fast, &outcome), LDR_E_PROGRAM);
  EXPECT_EQ(outcome.stage, FlowStage::FirmwareWrite);
  EXPECT_TRUE(outcome.hasAddress);
  EXPECT_EQ(outcome.address, image.address);
  EXPECT_EQ(always.probe.StoredFirmwareVersion(), 0);
}

// Records with gaps, overlaps, odd lengths and contiguous runs, in an order that jumps about.
std::string RaggedImage() {
  std::vector<test::SRecordData> records;
  uint32_t address = kFirmwareArea;
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> bytes(1 + (i * 7) % 37);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(i * 31 + k * 17);
    records.push_back({address, bytes});
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    switch (i % 5) {
      case 0:
        address += n + 3;
        break;  // gap
      case 1:
        address += n - (n + 1) / 2;
        break;  // overlap
      case 2:
        address = kFirmwareArea + (i * 977) % 0x30000;
        break;
      default:
        address += n;
        break;  // contiguous
    }
  }
  records.push_back({0x010C0000 - 6, {1, 2, 3, 4, 5, 6, 7, 8, 9}});  // across a sector boundary
  // A contiguous stretch from an odd address, gap-filled with runs of 0xFF that cross the merged
  // writes' boundaries: the merged run leaves the long ones to the erase.
  address = 0x01090001;
  for (uint32_t i = 0; i < 96; ++i, address += 32) {
    std::vector<uint8_t> bytes(32);
    for (uint32_t k = 0; k < 32; ++k) {
      const uint32_t at = i * 32 + k;
      bytes[k] = (at / 200) % 2 == 1 ? 0xFF : static_cast<uint8_t>(at % 251);
    }
    records.push_back({address, bytes});
  }
  return test::SRecordFile(records);
}

TEST_F(FirmwareOnProbe, MergedWritesLeaveTheSameFlashAsPerRecordWrites) {
  const std::string text = RaggedImage();
  ProbeOnPty perRecord, writingErased, merged;
  ASSERT_EQ(Program(perRecord, text), RESULT_OK);
  FirmwareOptions fast;
  fast.mergeRecords = true;
  fast.skipErasedRuns = false;
  ASSERT_EQ(Program(writingErased, text, fast), RESULT_OK);
  fast.skipErasedRuns = true;
  ASSERT_EQ(Program(merged, text, fast), RESULT_OK);
  const std::vector<uint8_t> expected = perRecord.probe.ReadFlash(kFirmwareArea, kFirmwareAreaSize);
  EXPECT_EQ(writingErased.probe.ReadFlash(kFirmwareArea, kFirmwareAreaSize), expected);
  EXPECT_EQ(merged.probe.ReadFlash(kFirmwareArea, kFirmwareAreaSize), expected);
  EXPECT_LT(merged.probe.GetCounters().framesIn, perRecord.probe.GetCounters().framesIn);
  EXPECT_LT(merged.probe.GetCounters().bytesIn + 1000, writingErased.probe.GetCounters().bytesIn)
      << "the runs of 0xFF were sent";
  EXPECT_EQ(merged.probe.CommandLog().back(), LDR_PROGRAM);
}

TEST_F(FirmwareOnProbe, OnANoisyLineTheFastPiecesShrinkAndTheVerifiedFlashIsTheImage) {
  ProbeOnPty target;
  // One byte in 500 changed, both ways: most 1024-byte pieces are lost.
  target.probe.Faults().corruptRate = 0.002;
  target.probe.Faults().requestCorruptRate = 0.002;
  const test::FirmwareImage image = Image(8 * 1024, 32);
  FirmwareOptions options;
  options.mergeRecords = true;
  options.verifyReadBack = true;
  FlowOutcome outcome;
  ASSERT_EQ(Program(target, image.text, options, &outcome), RESULT_OK)
      << StageName(outcome.stage) << " at " << outcome.address;
  const TransferStats& writes = last.writeStats;
  const TransferStats& reads = last.readStats;
  target.probe.Faults().corruptRate = 0;
  target.probe.Faults().requestCorruptRate = 0;
  EXPECT_EQ(target.probe.ReadFlash(image.address, 8 * 1024), test::ExpectedFlash(image));
  EXPECT_EQ(target.probe.StoredFirmwareVersion(), 0x1607);
  EXPECT_GT(writes.failedPieces, 0u);
  EXPECT_LT(writes.smallestPiece, kLargestPiece);
  // A lost write costs its line time and the probe's learnt working time, far from the 1000 ms
  // a write may take.
  EXPECT_LT(writes.failedMs, writes.failedPieces * 200);
  EXPECT_GT(reads.failedPieces, 0u);
  EXPECT_LT(reads.smallestPiece, kLargestPiece);
}

TEST_F(FirmwareOnProbe, ReadsOverSingleBitErrorsInTheRepliesDeliverTheFlashExactly) {
  // One bit of one reply byte in 500 flipped: two flips of one bit position in a frame pass its
  // XOR byte, some every hundred frames. What a backup or read-memory delivers must still be
  // the flash, byte for byte.
  ProbeOnPty target;
  constexpr uint32_t kCount = 160 * 1024;
  std::vector<uint8_t> flash(kCount);
  for (uint32_t i = 0; i < kCount; ++i) flash[i] = static_cast<uint8_t>(i * 7 + i / 251);
  target.probe.ProgramFlash(kFirmwareArea, flash);
  target.probe.Faults().bitFlipRate = 0.002;
  std::vector<uint8_t> read(kCount);
  TransferFailure failure;
  ASSERT_EQ(ReadFlashAdaptive(target.link, kFirmwareArea, kCount, read.data(), {}, &failure),
            RESULT_OK)
      << failure.address;
  uint32_t wrong = 0;
  for (uint32_t i = 0; i < kCount; ++i) wrong += read[i] != flash[i] ? 1 : 0;
  EXPECT_EQ(wrong, 0u);
}

TEST_F(FirmwareOnProbe, APieceChangedUnseenBeforeTheLineShowsAFaultIsReadAgain) {
  // The first reply on a clean line passes its XOR byte with two bytes wrong, and only a reply
  // lost further on shows the line faulty: the piece taken on one read is read again, and what
  // the read delivers is the flash.
  ProbeOnPty target;
  constexpr uint32_t kCount = 8 * 1024;
  std::vector<uint8_t> flash(kCount);
  for (uint32_t i = 0; i < kCount; ++i) flash[i] = static_cast<uint8_t>(i * 11 + i / 241);
  target.probe.ProgramFlash(kFirmwareArea, flash);
  target.probe.Faults().cancellingFlipsInFrame = 0;
  target.probe.Faults().silentAtAddress = kFirmwareArea + 6 * 1024;
  target.probe.Faults().silentAtAddressCount = 1;
  std::vector<uint8_t> read(kCount);
  TransferFailure failure;
  ASSERT_EQ(ReadFlashAdaptive(target.link, kFirmwareArea, kCount, read.data(), {}, &failure),
            RESULT_OK)
      << failure.address;
  EXPECT_EQ(read, flash);
}

TEST_F(FirmwareOnProbe, RestoreOverSingleBitErrorsInTheRepliesSucceedsWithTheFlashExact) {
  // One bit of one reply byte in about 170 flipped under a restore of two whole sectors: some
  // replies pass their XOR byte with wrong data, so the read-back reads a piece that differs again
  // before it counts, and a reply the line changed is no failed restore.
  ProbeOnPty target;
  FlashContents contents;
  contents.header = "vantaLink backup serial 11111111 loader 1.2";
  constexpr uint32_t kFrom = SETUP_SECTOR - kFlashBase;
  constexpr uint32_t kCount = 0x01010000 - SETUP_SECTOR;
  for (uint32_t i = 0; i < kCount; ++i) {
    contents.bytes[kFrom + i] = i % 4096 < 1024 ? 0xFF : static_cast<uint8_t>(i * 13 + i / 253);
    contents.present[kFrom + i] = true;
  }
  target.probe.Faults().bitFlipRate = 0.006;
  RestoreOptions options;
  options.otherProbe = true;
  const RestoreResult restored = RestoreFlash(target.link, contents, options, sink, progress);
  target.probe.Faults().bitFlipRate = 0;
  ASSERT_TRUE(restored.outcome.passed) << RestoreFailureText(restored, contents, options, "x.s19");
  EXPECT_EQ(target.probe.ReadFlash(SETUP_SECTOR, kCount),
            std::vector<uint8_t>(contents.bytes.begin() + kFrom,
                                 contents.bytes.begin() + kFrom + kCount));
  EXPECT_EQ(statuses.back(), "Restore: Verifying Flash ... passed!");
}

TEST_F(FirmwareOnProbe, ReadsThatNeverAgreeFailNamingTheirAddress) {
  // Most replies damaged: the read gives up at a piece whose reads never agreed, and what it
  // delivered before that piece is the flash.
  ProbeOnPty target;
  target.probe.Faults().bitFlipRate = 0.05;
  std::vector<uint8_t> read(4096, 0);
  TransferFailure failure;
  const ResultCode rc =
      ReadFlashAdaptive(target.link, kFirmwareArea, 4096, read.data(), {}, &failure);
  ASSERT_NE(rc, RESULT_OK);
  ASSERT_GE(failure.address, kFirmwareArea);
  ASSERT_LT(failure.address, kFirmwareArea + 4096);
  read.resize(failure.address - kFirmwareArea);
  EXPECT_EQ(read, std::vector<uint8_t>(read.size(), 0xFF));
}

TEST_F(FirmwareOnProbe, ALostPieceKeepsItsSizeOnlyOnceThatSizeHasGotThrough) {
  const test::FirmwareImage image = Image(8 * 1024, 32);
  struct Case {
    uint32_t lostPiece;  // which 1024-byte piece is lost once
    uint64_t pieces;     // transactions the transfer takes
  };
  // The first piece's size has not got through yet: it halves at once, and eight 512-byte pieces
  // go before it grows again (1 + 8 + 4). The fourth has got through three times: it is sent
  // again whole (8 + 1). Writes end with one more piece: the marker.
  for (bool write : {false, true}) {
    for (const Case& c : {Case{0, 13}, Case{3, 9}}) {
      SCOPED_TRACE(std::string(write ? "write" : "read") + ", piece " +
                   std::to_string(c.lostPiece));
      ProbeOnPty target;
      target.probe.Faults().silentAtAddress = image.address + c.lostPiece * kLargestPiece;
      target.probe.Faults().silentAtAddressCount = 1;
      target.probe.Faults().silentAtAddressCommand = write ? LDR_PROGRAM : LDR_READ_MEMORY;
      FirmwareOptions options;
      options.mergeRecords = true;
      options.verifyReadBack = true;
      ASSERT_EQ(Program(target, image.text, options), RESULT_OK);
      const TransferStats& stats = write ? last.writeStats : last.readStats;
      EXPECT_EQ(stats.failedPieces, 1u);
      EXPECT_EQ(stats.pieces, c.pieces + (write ? 1 : 0));
      EXPECT_EQ(target.probe.ReadFlash(image.address, 8 * 1024), test::ExpectedFlash(image));
    }
  }
}

TEST_F(FirmwareOnProbe, VerificationFindsTheBitThatOneWriteGotWrong) {
  const test::FirmwareImage image = Image(16 * 1024, 32);
  FirmwareOptions verify;
  verify.verifyReadBack = true;
  {
    ProbeOnPty target;
    ASSERT_EQ(Program(target, image.text, verify), RESULT_OK);
    EXPECT_EQ(statuses.back(), "Firmware: Verifying Flash ... passed!");
  }
  // Record by record the difference ends the run; merged writes rewrite its sector, again when a
  // rewrite goes wrong too, and a difference that is still there after three rewrites ends the run.
  struct Case {
    bool merge;
    int write;          // the probe clears the lowest set bit of the first non-zero byte of it
    int wrongRewrites;  // ... and of a write of this many rewrites
    uint32_t rewrites;
    ResultCode expected;
  };
  for (const Case& c : {Case{false, 100, 0, 0, LDR_E_VERIFY}, Case{true, 3, 0, 1, RESULT_OK},
                        Case{true, 3, 1, 2, RESULT_OK}, Case{true, 3, 99, 3, LDR_E_VERIFY}}) {
    SCOPED_TRACE(testing::Message() << "merge " << c.merge << " wrong again " << c.wrongRewrites);
    ProbeOnPty target;
    target.probe.Faults().corruptProgramWrite = c.write;
    verify.mergeRecords = c.merge;
    statuses.clear();
    int wrongAgain = c.wrongRewrites;
    sink = [this, &target, &wrongAgain](const std::string& text) {
      statuses.push_back(text);
      if (wrongAgain == 0 || text.find("rewriting sector") == std::string::npos) return;
      --wrongAgain;
      const std::vector<uint8_t> log = target.probe.CommandLog();
      target.probe.Faults().corruptProgramWrite =
          static_cast<int32_t>(std::count(log.begin(), log.end(), LDR_PROGRAM)) + 1;
    };
    EXPECT_EQ(Program(target, image.text, verify), c.expected);
    EXPECT_EQ(last.rewrittenSectors, c.rewrites);
    if (c.expected == RESULT_OK) {
      EXPECT_EQ(target.probe.ReadFlash(image.address, 16 * 1024), test::ExpectedFlash(image));
      EXPECT_EQ(target.probe.StoredFirmwareVersion(), 0x1607);
      EXPECT_EQ(statuses.back(), "Firmware: Verifying Flash ... passed!");
      continue;
    }
    const uint32_t start = image.address + static_cast<uint32_t>(c.write) * (c.merge ? 1024 : 32);
    uint32_t expected = start;
    while (image.bytes[expected - image.address] == 0) ++expected;
    EXPECT_TRUE(last.differs);
    if (c.wrongRewrites == 0) {
      EXPECT_EQ(last.firstDifference, expected);
    }
    EXPECT_EQ(statuses.back(), "Firmware: Verifying Flash ... failed!");
  }
}

TEST_F(FirmwareOnProbe, APieceLostEightTimesFailsNamingItsAddressQuickly) {
  const test::FirmwareImage image = Image(8 * 1024, 32);
  const uint32_t lost = image.address + 3 * kLargestPiece;  // where a piece starts
  struct Case {
    bool write;  // the --fast write loses the piece, else the read-back
    FlowStage stage;
    const char* failed;
    // Eight waits sized to their pieces, not eight waits for the largest frame (over 2.7 s for
    // reads, over 10 s for writes with their 1000 ms allowance).
    std::chrono::milliseconds bound;
  };
  for (const Case& c :
       {Case{false, FlowStage::FirmwareVerify, "Firmware: Verifying Flash ... failed!",
             std::chrono::milliseconds(2000)},
        Case{true, FlowStage::FirmwareWrite, "Firmware: Programming Flash ... failed!",
             std::chrono::milliseconds(4000)}}) {
    SCOPED_TRACE(c.write ? "write" : "read");
    FirmwareOptions options;
    options.verifyReadBack = true;
    options.mergeRecords = c.write;
    const auto lose = [&](ProbeOnPty& target, int times) {
      target.probe.Faults().silentAtAddress = lost;
      target.probe.Faults().silentAtAddressCount = times;
      target.probe.Faults().silentAtAddressCommand = c.write ? LDR_PROGRAM : LDR_READ_MEMORY;
    };
    {
      ProbeOnPty target;
      lose(target, kTriesPerPiece);
      statuses.clear();
      FlowOutcome outcome;
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(Program(target, image.text, options, &outcome), SESSION_E_NO_REPLY);
      EXPECT_LT(std::chrono::steady_clock::now() - start, c.bound);
      EXPECT_EQ(outcome.stage, c.stage);
      EXPECT_TRUE(outcome.hasAddress);
      EXPECT_EQ(outcome.address, lost);
      EXPECT_EQ(statuses.back(), c.failed);
      if (c.write) {
        EXPECT_EQ(target.probe.StoredFirmwareVersion(), 0) << "a marker in front of half an image";
        for (const std::string& text : statuses) EXPECT_EQ(text.find("passed"), std::string::npos);
      }
    }
    // One loss fewer, and the same run gets through with the exact image.
    ProbeOnPty again;
    lose(again, kTriesPerPiece - 1);
    EXPECT_EQ(Program(again, image.text, options), RESULT_OK);
    EXPECT_EQ(again.probe.ReadFlash(image.address, 8 * 1024), test::ExpectedFlash(image));
  }
}

}  // namespace
}  // namespace vanta
