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

constexpr size_t kLineBuffer = 256;       // one read takes at most 255 characters
constexpr size_t kMaxMergedWrite = 1024;  // data bytes in one merged LDR_PROGRAM
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
constexpr const char* kRewriteFormat =
    "Firmware: read back differs at 0x%08X; rewriting sector 0x%08X ...";

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

// The bytes the image leaves in flash: every data record and the marker ANDed over erased flash,
// gathered into ranges of consecutive addresses.
std::vector<FlashBytes> ExpectedImage(const std::vector<ImageLine>& lines) {
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
  std::vector<FlashBytes> ranges;
  for (const Piece& piece : sorted) {
    const uint64_t end = piece.address + piece.size;
    if (!ranges.empty() && piece.address <= ranges.back().address + ranges.back().bytes.size()) {
      FlashBytes& last = ranges.back();
      if (end > last.address + last.bytes.size()) last.bytes.resize(end - last.address, 0xFF);
    } else {
      ranges.push_back({piece.address, std::vector<uint8_t>(piece.size, 0xFF)});
    }
  }
  for (const Piece& piece : pieces) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), piece.address,
                               [](uint64_t a, const FlashBytes& r) { return a < r.address; });
    FlashBytes& range = *(it - 1);
    const size_t offset = piece.address - range.address;
    for (size_t i = 0; i < piece.size; ++i) range.bytes[offset + i] &= piece.data[i];
  }
  return ranges;
}

// The read-back after the marker. With merged writes a difference in a firmware sector is mended
// and the image read back again from there: where the flash holds only extra one bits the piece is
// programmed again, otherwise the sector is erased and its part of the image written again (the
// writer's MendRules bound both). A difference that stays, or one without merged writes, fails
// the run there.
ResultCode CheckImage(FlashWriter& writer, const std::vector<ImageLine>& lines,
                      const StatusSink& status, ProgressDisplay& progress,
                      const FirmwareOptions& options, FirmwareResult& result) {
  const std::vector<FlashBytes> ranges = ExpectedImage(lines);
  MendRules rules;
  if (options.mergeRecords)
    rules.sectors.assign(std::begin(kFirmwareSectors), std::end(kFirmwareSectors));
  rules.repairs = kRepairsPerSector;
  rules.rewrites = kRewritesPerSector;
  rules.windowMs = kMendWindowMs;
  FlashDifference difference;
  const ResultCode rc = writer.ReadBackAndMend(
      ranges, rules,
      [&](uint32_t done, uint32_t total) {
        ShowPercent(kVerifyFormat, status, progress, total, done);
      },
      [&] { status(kVerifying); },
      [&](uint32_t at, uint32_t sector, bool rewrite) {
        progress.lastShown = 0;
        if (!rewrite) return;
        char text[80];
        std::snprintf(text, sizeof text, kRewriteFormat, static_cast<unsigned>(at),
                      static_cast<unsigned>(sector));
        status(text);
      },
      difference, result.rewrittenSectors);
  result.readStats = writer.ReadStats();
  if (rc != RESULT_OK) {
    if (rc == LDR_E_VERIFY) {
      result.differs = true;
      result.firstDifference = difference.address;
    }
    status(kVerifyFailed);
    return rc;
  }
  status(kVerifyPassed);
  return RESULT_OK;
}

// ProgramFirmware's run; stage names the part under way when it returns, problem what is wrong
// with the file.
ResultCode ProgramImage(ProbeLink& link, ImageVersion version, const StatusSink& status,
                        ProgressDisplay& progress, const FirmwareOptions& options, FlowStage& stage,
                        ParseProblem& problem, FirmwareResult& result, TransferFailure& failure) {
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
  // number of times; the records keep one transaction of three attempts each. The marker goes
  // last, so a run that stops half-way leaves the firmware unmarked.
  FlashWriter writer(link, options.mergeRecords ? WriteMode::Adaptive : WriteMode::OneRequest);
  ResultCode rc = writer.Write(steps, kMarker, [&](const WriteStep& step, ResultCode written) {
    // The failure shows at once; the line's progress follows and the failure closes the run.
    if (written != RESULT_OK) status(kProgramFailed);
    ShowPercent(kProgressFormat, status, progress, total, step.positionAfter);
  });
  if (options.mergeRecords) result.writeStats = writer.WriteStats();
  failure = writer.Failure();
  if (rc != RESULT_OK) {
    status(kProgramFailed);
    return rc;
  }
  status(kProgramPassed);
  stage = FlowStage::FirmwareVerify;
  if (!options.verifyReadBack) return RESULT_OK;
  rc = CheckImage(writer, lines, status, progress, options, result);
  if (options.mergeRecords) result.writeStats = writer.WriteStats();
  failure = writer.Failure();
  return rc;
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

FirmwareResult ProgramFirmware(ProbeLink& link, ImageVersion version, const StatusSink& status,
                               ProgressDisplay& progress, const FirmwareOptions& options) {
  FirmwareResult result;
  FlowStage stage = FlowStage::None;
  ParseProblem problem;
  TransferFailure transfer;
  const ResultCode rc =
      ProgramImage(link, version, status, progress, options, stage, problem, result, transfer);
  result.code = rc;
  result.outcome = rc == RESULT_OK              ? FlowOutcome::Passed()
                   : transfer.code != RESULT_OK ? FlowOutcome::FailedAt(stage, rc, transfer.address)
                                                : FlowOutcome::Failed(stage, rc);
  if (rc != RESULT_OK && stage == FlowStage::FirmwareFile) result.outcome.problem = problem;
  return result;
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
