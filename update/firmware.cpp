#include "update/firmware.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "link/loader.h"
#include "platform/files.h"
#include "update/bulk_transfer.h"
#include "update/srecord.h"

namespace vanta {

namespace {

constexpr size_t kLineBuffer = 256;         // one read takes at most 255 characters
constexpr size_t kMaxMergedWrite = 1024;    // data bytes in one merged LDR_PROGRAM
constexpr size_t kShortestSkippedRun = 64;  // erased bytes a merged write leaves out, at least
constexpr uint32_t kFirmwareSectorSize = SectorOf(FIRMWARE_SECTOR)->size;  // all three alike
constexpr auto& kMarker = kFirmwareMarker;

constexpr const char* kErasing = "Firmware: Erasing Flash ...";
constexpr const char* kEraseFailed = "Firmware: Erasing Flash ... failed!";
constexpr const char* kProgramming = "Firmware: Programming Flash ...";
constexpr const char* kProgressFormat = "Firmware: Programming Flash ... ( %u%% )";
constexpr const char* kProgramFailed = "Firmware: Programming Flash ... failed!";
constexpr const char* kProgramPassed = "Firmware: Programming Flash ... passed!";
constexpr const char* kVerifying = "Firmware: Verifying Flash ...";
constexpr const char* kVerifyFormat = "Firmware: Verifying Flash ... ( %u%% )";
constexpr const char* kVerifyFailed = "Firmware: Verifying Flash ... failed!";
constexpr const char* kVerifyPassed = "Firmware: Verifying Flash ... passed!";
// How often a firmware sector whose read-back differs is mended, and for how long mends begin.
constexpr int kRepairsPerSector = 8;
constexpr int kRewritesPerSector = 3;
constexpr uint32_t kMendWindowMs = 5 * 60 * 1000;
constexpr uint32_t kRepairBytes = 64;  // programmed again around a difference of extra one bits
constexpr const char* kRewriteFormat =
    "Firmware: read back differs at 0x%08X; rewriting sector 0x%08X ...";

// One step of the programming run: a write (unless bytes is empty), then the progress shown.
struct WriteStep {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;  // padded to a multiple of 4 with 0xFF
  uint32_t positionAfter = 0;
};

void PadToWord(std::vector<uint8_t>& bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back(0xFF);
}

// Record by record, as the window has always written: one write per data record.
std::vector<WriteStep> PerRecordSteps(const std::vector<ImageLine>& lines) {
  std::vector<WriteStep> steps;
  for (const ImageLine& line : lines) {
    WriteStep step{line.address, line.data, line.positionAfter};
    PadToWord(step.bytes);
    steps.push_back(std::move(step));
  }
  return steps;
}

// Records that continue exactly where the previous one ended share one write. Padding appears
// only behind the last record of a write, never between records, and overlapping records stay in
// writes of their own: flash ANDs every write in, so the result equals the per-record run.
std::vector<WriteStep> MergedSteps(const std::vector<ImageLine>& lines) {
  std::vector<WriteStep> steps;
  WriteStep chunk;
  uint32_t consumed = 0;  // file position after the lines handled so far
  auto emit = [&steps, &chunk](uint32_t positionAfter) {
    chunk.positionAfter = positionAfter;
    PadToWord(chunk.bytes);
    steps.push_back(std::move(chunk));
    chunk = WriteStep{};
  };
  for (const ImageLine& line : lines) {
    if (!line.data.empty()) {
      const uint64_t chunkEnd = uint64_t{chunk.address} + chunk.bytes.size();
      const bool continues =
          line.address == chunkEnd && chunk.bytes.size() + line.data.size() <= kMaxMergedWrite;
      if (!chunk.bytes.empty() && !continues) emit(consumed);
      if (chunk.bytes.empty()) chunk.address = line.address;
      chunk.bytes.insert(chunk.bytes.end(), line.data.begin(), line.data.end());
    }
    consumed = line.positionAfter;
  }
  // The last write, or the progress of the lines behind it (an end record).
  if (!lines.empty()) emit(consumed);
  return steps;
}

// The erase leaves 0xFF, and writing 0xFF leaves flash as it is: a merged write is cut around
// runs of 0xFF long enough to be worth a request of their own. Cuts fall on whole words from the
// write's start, so every piece keeps the write's alignment and is padded as before; a shorter
// run stays in its write. The pieces before the last show no new progress.
std::vector<WriteStep> SkipErasedRuns(const std::vector<WriteStep>& merged) {
  std::vector<WriteStep> steps;
  uint32_t shown = 0;  // the progress of the step before
  for (const WriteStep& step : merged) {
    const std::vector<uint8_t>& bytes = step.bytes;
    size_t start = 0;  // first byte of the piece under way
    size_t i = 0;
    while (i < bytes.size()) {
      if (bytes[i] != 0xFF) {
        ++i;
        continue;
      }
      size_t end = i;
      while (end < bytes.size() && bytes[end] == 0xFF) ++end;
      const size_t skipFrom = (i + 3) / 4 * 4;
      const size_t skipTo = end == bytes.size() ? end : end / 4 * 4;
      if (skipTo > skipFrom && skipTo - skipFrom >= kShortestSkippedRun) {
        if (skipFrom > start) {
          WriteStep piece{step.address + static_cast<uint32_t>(start),
                          {bytes.begin() + start, bytes.begin() + skipFrom},
                          shown};
          PadToWord(piece.bytes);
          steps.push_back(std::move(piece));
        }
        start = skipTo;
      }
      i = end;
    }
    WriteStep last{step.address + static_cast<uint32_t>(start), {}, step.positionAfter};
    if (start < bytes.size()) last.bytes.assign(bytes.begin() + start, bytes.end());
    PadToWord(last.bytes);
    shown = step.positionAfter;
    steps.push_back(std::move(last));
  }
  return steps;
}

// The bytes the image leaves in flash: every data record and the marker ANDed over erased flash,
// gathered into ranges of consecutive addresses.
struct ExpectedRange {
  uint64_t address = 0;
  std::vector<uint8_t> bytes;
};

std::vector<ExpectedRange> ExpectedImage(const std::vector<ImageLine>& lines) {
  struct Piece {
    uint64_t address;
    const uint8_t* data;
    size_t size;
  };
  std::vector<Piece> pieces;
  for (const ImageLine& line : lines) {
    if (!line.data.empty()) pieces.push_back({line.address, line.data.data(), line.data.size()});
  }
  pieces.push_back({FIRMWARE_SECTOR, kMarker, sizeof kMarker});

  std::vector<Piece> sorted = pieces;
  std::sort(sorted.begin(), sorted.end(),
            [](const Piece& a, const Piece& b) { return a.address < b.address; });
  std::vector<ExpectedRange> ranges;
  for (const Piece& piece : sorted) {
    const uint64_t end = piece.address + piece.size;
    if (!ranges.empty() && piece.address <= ranges.back().address + ranges.back().bytes.size()) {
      ExpectedRange& last = ranges.back();
      if (end > last.address + last.bytes.size()) last.bytes.resize(end - last.address, 0xFF);
    } else {
      ranges.push_back({piece.address, std::vector<uint8_t>(piece.size, 0xFF)});
    }
  }
  for (const Piece& piece : pieces) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), piece.address,
                               [](uint64_t a, const ExpectedRange& r) { return a < r.address; });
    ExpectedRange& range = *(it - 1);
    const size_t offset = piece.address - range.address;
    for (size_t i = 0; i < piece.size; ++i) range.bytes[offset + i] &= piece.data[i];
  }
  return ranges;
}

// Reads every expected range back in adaptive pieces and compares it, from resumeFrom on (what
// lies before it has been found right). The reads are confirmed against the image: a piece that
// differs counts only once two reads of it agree, since two bytes changed on the line by the same
// value pass the frame's XOR byte. LDR_E_VERIFY with difference set at the first difference.
ResultCode VerifyImage(BulkTransfer& transfer, const std::vector<ExpectedRange>& ranges,
                       uint64_t resumeFrom, const StatusSink& status, ProgressDisplay& progress,
                       uint32_t& difference, uint8_t& found) {
  uint32_t total = 0;
  for (const ExpectedRange& range : ranges) total += static_cast<uint32_t>(range.bytes.size());
  status(kVerifying);
  uint32_t before = 0;  // bytes of the ranges already compared
  std::vector<uint8_t> read;
  for (const ExpectedRange& range : ranges) {
    const uint64_t end = range.address + range.bytes.size();
    const uint32_t skip =
        static_cast<uint32_t>(std::clamp<uint64_t>(resumeFrom, range.address, end) - range.address);
    const uint32_t address = static_cast<uint32_t>(range.address) + skip;
    const uint32_t count = static_cast<uint32_t>(range.bytes.size()) - skip;
    before += skip;
    read.assign(count, 0);
    const ResultCode rc = transfer.Read(
        address, count, read.data(),
        [&](uint32_t done) { ShowPercent(kVerifyFormat, status, progress, total, before + done); },
        range.bytes.data() + skip);
    if (rc != RESULT_OK) return rc;
    const auto mismatch = std::mismatch(read.begin(), read.end(), range.bytes.begin() + skip);
    if (mismatch.first != read.end()) {
      difference = address + static_cast<uint32_t>(mismatch.first - read.begin());
      found = *mismatch.first;
      return LDR_E_VERIFY;
    }
    before += count;
  }
  return RESULT_OK;
}

uint32_t FirmwareSectorOf(uint32_t address) {
  for (uint32_t sector : kFirmwareSectors) {
    if (address >= sector && address - sector < kFirmwareSectorSize) return sector;
  }
  return 0;
}

// A byte the line changed in a write that its one-byte check let through cannot be mended in
// place (programming only clears bits): the sector is erased and its part of the image written
// again, the marker last when it lives there. Long runs of 0xFF stay with the erase.
ResultCode RewriteSector(BulkTransfer& transfer, ProbeLink& link, uint32_t sector,
                         const std::vector<ExpectedRange>& ranges) {
  if (const ResultCode rc = EraseSector(link, sector); rc != RESULT_OK) return rc;
  const uint64_t end = uint64_t{sector} + kFirmwareSectorSize;
  std::vector<WriteStep> clipped;
  for (const ExpectedRange& range : ranges) {
    const uint64_t from = std::max<uint64_t>(range.address, sector);
    const uint64_t to = std::min<uint64_t>(range.address + range.bytes.size(), end);
    if (from >= to) continue;
    WriteStep step{static_cast<uint32_t>(from),
                   {range.bytes.begin() + static_cast<ptrdiff_t>(from - range.address),
                    range.bytes.begin() + static_cast<ptrdiff_t>(to - range.address)},
                   0};
    PadToWord(step.bytes);
    clipped.push_back(std::move(step));
  }
  std::vector<uint8_t> marker;
  if (sector == FIRMWARE_SECTOR && !clipped.empty() && clipped.front().address == FIRMWARE_SECTOR) {
    std::vector<uint8_t>& head = clipped.front().bytes;
    marker.assign(head.begin(), head.begin() + sizeof kMarker);
    std::fill(head.begin(), head.begin() + sizeof kMarker, 0xFF);
  }
  for (const WriteStep& step : SkipErasedRuns(clipped)) {
    if (step.bytes.empty()) continue;
    const ResultCode rc =
        transfer.Write(step.address, step.bytes.data(), static_cast<uint32_t>(step.bytes.size()));
    if (rc != RESULT_OK) return rc;
  }
  if (marker.empty()) return RESULT_OK;
  return transfer.Write(FIRMWARE_SECTOR, marker.data(), static_cast<uint32_t>(marker.size()));
}

// The read-back after the marker. With merged writes a difference in a firmware sector is mended
// and the image read back again from there: where the flash holds only extra one bits the piece is
// programmed again (programming clears bits), up to kRepairsPerSector times a sector; otherwise
// the sector is erased and its part of the image written again, up to kRewritesPerSector times,
// and none begun once kMendWindowMs have passed since the read-back began. A difference that
// stays, or one without merged writes, fails the run there.
ResultCode CheckImage(ProbeLink& link, const std::vector<ImageLine>& lines,
                      const StatusSink& status, ProgressDisplay& progress,
                      const FirmwareOptions& options, TransferFailure& failure) {
  const std::vector<ExpectedRange> ranges = ExpectedImage(lines);
  BulkTransfer transfer(link);
  struct Mends {
    uint32_t sector;
    int rewrites = 0;
    int repairs = 0;
  };
  std::vector<Mends> mends;
  const uint32_t began = link.GetClock().TickMs();
  uint64_t resumeFrom = 0;
  auto fail = [&](ResultCode rc, uint32_t address, bool writing) {
    if (options.readStats != nullptr) *options.readStats = transfer.Stats();
    failure = {address, rc, writing};
    status(kVerifyFailed);
    return rc;
  };
  for (;;) {
    uint32_t difference = 0;
    uint8_t found = 0;
    ResultCode rc = VerifyImage(transfer, ranges, resumeFrom, status, progress, difference, found);
    if (rc == RESULT_OK) break;
    if (rc != LDR_E_VERIFY) return fail(rc, transfer.Failure().address, false);
    const uint32_t sector = FirmwareSectorOf(difference);
    const auto differs = [&] {
      if (options.firstDifference != nullptr) *options.firstDifference = difference;
      return fail(LDR_E_VERIFY, difference, false);
    };
    if (!options.mergeRecords || sector == 0) return differs();
    auto it = std::find_if(mends.begin(), mends.end(),
                           [&](const Mends& m) { return m.sector == sector; });
    if (it == mends.end()) it = mends.insert(mends.end(), Mends{sector});
    const ExpectedRange& range =
        *std::find_if(ranges.begin(), ranges.end(), [&](const ExpectedRange& r) {
          return difference >= r.address && difference - r.address < r.bytes.size();
        });
    const uint8_t wanted = range.bytes[difference - range.address];
    progress.lastShown = 0;
    if ((found & wanted) == wanted && it->repairs < kRepairsPerSector) {
      // Only bits to clear: the piece around the difference is programmed again in place.
      ++it->repairs;
      const uint32_t from =
          std::max<uint32_t>(static_cast<uint32_t>(range.address), difference & ~3u);
      const uint32_t to = static_cast<uint32_t>(
          std::min<uint64_t>(range.address + range.bytes.size(), uint64_t{from} + kRepairBytes));
      std::vector<uint8_t> bytes(range.bytes.begin() + (from - range.address),
                                 range.bytes.begin() + (to - range.address));
      PadToWord(bytes);
      rc = transfer.Write(from, bytes.data(), static_cast<uint32_t>(bytes.size()));
      if (rc != RESULT_OK) return fail(rc, transfer.Failure().address, true);
      resumeFrom = from;
      continue;
    }
    if (it->rewrites >= kRewritesPerSector || link.GetClock().TickMs() - began > kMendWindowMs) {
      return differs();
    }
    ++it->rewrites;
    if (options.rewrittenSectors != nullptr) ++*options.rewrittenSectors;
    char text[80];
    std::snprintf(text, sizeof text, kRewriteFormat, static_cast<unsigned>(difference),
                  static_cast<unsigned>(sector));
    status(text);
    rc = RewriteSector(transfer, link, sector, ranges);
    if (rc != RESULT_OK) return fail(rc, transfer.Failure().address, true);
    resumeFrom = sector;
  }
  if (options.readStats != nullptr) *options.readStats = transfer.Stats();
  status(kVerifyPassed);
  return RESULT_OK;
}

// ProgramFirmware's run; stage names the part under way when it returns, problem what is wrong
// with the file.
ResultCode ProgramImage(ProbeLink& link, ImageVersion version, const StatusSink& status,
                        ProgressDisplay& progress, const FirmwareOptions& options, FlowStage& stage,
                        ParseProblem& problem, TransferFailure& failure) {
  stage = FlowStage::FirmwareFile;
  std::vector<uint8_t> text;
  if (!ReadWholeFile(FindImagePath(kFirmwareBase, version, options.imageDirs), text)) {
    problem = {0, "a firmware image that can be opened and read"};
    return LDR_E_FIRMWARE_FILE;
  }
  const uint32_t total = static_cast<uint32_t>(text.size());

  // The whole file is checked before the first erase: a bad file must not cost the probe the
  // firmware it has.
  std::vector<ImageLine> lines;
  if (!ParseFirmwareImage(text.data(), text.size(), lines, problem)) {
    status(kProgramFailed);
    return LDR_E_FIRMWARE_FILE;
  }

  stage = FlowStage::FirmwareErase;
  status(kErasing);
  for (uint32_t sector : kFirmwareSectors) {
    const ResultCode rc = EraseSector(link, sector);
    if (rc != RESULT_OK) {
      status(kEraseFailed);
      return rc;
    }
  }

  stage = FlowStage::FirmwareWrite;
  status(kProgramming);
  const std::vector<WriteStep> steps = !options.mergeRecords    ? PerRecordSteps(lines)
                                       : options.skipErasedRuns ? SkipErasedRuns(MergedSteps(lines))
                                                                : MergedSteps(lines);
  // Merged writes go in adaptive pieces that a noisy line shrinks, each sent again a bounded
  // number of times; the records keep one transaction of three attempts each.
  BulkTransfer transfer(link);
  const auto write = [&](uint32_t address, const uint8_t* data, size_t count) {
    if (!options.mergeRecords) {
      uint32_t replyValue = 0;
      return ProgramMemory(link, address, static_cast<uint16_t>(count), data, replyValue);
    }
    const ResultCode rc = transfer.Write(address, data, static_cast<uint32_t>(count));
    if (options.writeStats != nullptr) *options.writeStats = transfer.Stats();
    if (rc != RESULT_OK) failure = transfer.Failure();
    return rc;
  };
  for (const WriteStep& step : steps) {
    ResultCode rc = RESULT_OK;
    if (!step.bytes.empty()) {
      rc = write(step.address, step.bytes.data(), step.bytes.size());
      // The failure shows at once; the line's progress follows and the failure closes the run.
      if (rc != RESULT_OK) status(kProgramFailed);
    }
    ShowPercent(kProgressFormat, status, progress, total, step.positionAfter);
    if (rc != RESULT_OK) {
      status(kProgramFailed);
      return rc;
    }
  }

  // The marker goes last, so a run that stops half-way leaves the firmware unmarked.
  const ResultCode rc = write(FIRMWARE_SECTOR, kMarker, sizeof kMarker);
  if (rc != RESULT_OK) {
    status(kProgramFailed);
    return rc;
  }
  status(kProgramPassed);
  stage = FlowStage::FirmwareVerify;
  if (options.verifyReadBack) return CheckImage(link, lines, status, progress, options, failure);
  return RESULT_OK;
}

}  // namespace

void ShowPercent(const char* format, const StatusSink& status, ProgressDisplay& progress,
                 uint32_t total, uint32_t position) {
  // A file whose length the system cannot tell has no percentage to show.
  if (total == 0) return;
  const uint16_t percent = static_cast<uint16_t>((position * 100u) / total);
  if (percent == progress.lastShown) return;
  char text[80];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(percent));
  progress.lastShown = percent;
  status(text);
  if (progress.sink != nullptr) progress.sink->SetProgress(position, total, true);
}

ResultCode ProgramFirmware(ProbeLink& link, ImageVersion version, const StatusSink& status,
                           ProgressDisplay& progress, const FirmwareOptions& options,
                           FlowOutcome* failure) {
  FlowStage stage = FlowStage::None;
  ParseProblem problem;
  TransferFailure transfer;
  const ResultCode rc =
      ProgramImage(link, version, status, progress, options, stage, problem, transfer);
  if (failure != nullptr) {
    *failure = rc == RESULT_OK              ? FlowOutcome::Passed()
               : transfer.code != RESULT_OK ? FlowOutcome::FailedAt(stage, rc, transfer.address)
                                            : FlowOutcome::Failed(stage, rc);
    if (rc != RESULT_OK && stage == FlowStage::FirmwareFile) failure->problem = problem;
  }
  return rc;
}

bool ParseFirmwareImage(const uint8_t* text, size_t size, std::vector<ImageLine>& lines,
                        ParseProblem& problem) {
  lines.clear();
  std::string piece;
  uint8_t data[256];
  size_t position = 0;
  uint32_t lineNumber = 0;
  bool holdsData = false;
  while (NextTextLine(text, size, position, piece, kLineBuffer)) {
    ++lineNumber;
    ImageLine line;
    const int count = ParseSRecord(piece, line.address, data);
    if (count < 0) {
      problem = {lineNumber,
                 "an S-record: 'S', its type, then hex pairs whose count and checksum agree"};
      return false;
    }
    holdsData = holdsData || count > 0;
    line.data.assign(data, data + count);
    line.positionAfter = static_cast<uint32_t>(position);
    lines.push_back(std::move(line));
  }
  // An image without a single data byte would leave the firmware sectors erased and the marker
  // vouching for firmware that is not there: it is refused like a bad record.
  if (!holdsData) {
    problem = {0, "at least one data record (S1, S2 or S3) with data"};
    return false;
  }
  return true;
}

}  // namespace vanta
