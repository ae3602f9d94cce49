#include "update/flash_backup.h"

#include <algorithm>
#include <cstdio>

#include "link/loader.h"
#include "platform/files.h"
#include "update/bulk_transfer.h"
#include "update/flash_writer.h"

namespace vanta {

namespace {

constexpr uint32_t kPiece = 1024;       // bytes a restore looks at for anything but 0xFF
constexpr uint32_t kRecordBytes = 32;   // data bytes in one S3 record of a backup
constexpr size_t kMaxHeaderText = 200;  // S0 text kept well inside one record
constexpr const char* kSerialLead = "vantaLink backup serial ";

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// One record: "S", type, count, address of addressSize bytes, data, checksum, LF.
void AppendRecord(std::string& out, char type, uint32_t address, unsigned addressSize,
                  const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto put = [&out](uint8_t byte) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 15]);
  };
  const uint8_t count = static_cast<uint8_t>(addressSize + size + 1);
  uint8_t sum = count;
  out.push_back('S');
  out.push_back(type);
  put(count);
  for (unsigned i = addressSize; i-- > 0;) {
    const uint8_t byte = static_cast<uint8_t>(address >> (8 * i));
    sum = static_cast<uint8_t>(sum + byte);
    put(byte);
  }
  for (size_t i = 0; i < size; ++i) {
    sum = static_cast<uint8_t>(sum + data[i]);
    put(data[i]);
  }
  put(static_cast<uint8_t>(~sum));
  out.push_back('\n');
}

// Reads count bytes from address on with the adaptive pieces of the bulk reads, so a noisy line
// shrinks the pieces instead of failing the whole read, each piece confirmed as the bulk reads do
// (against expected for a read-back); reports the bytes done as it goes.
template <typename OnPiece>
ResultCode ReadFlashPieces(ProbeLink& link, uint32_t address, uint32_t count, uint8_t* dest,
                           OnPiece onPiece, TransferFailure* failure = nullptr,
                           const uint8_t* expected = nullptr) {
  return ReadFlashAdaptive(
      link, address, count, dest, [&](uint32_t done) { onPiece(done); }, failure, expected);
}

}  // namespace

bool RangeInsideFlash(const FlashRange& range) {
  return range.length > 0 && InsideFlash(range.address, range.length);
}

FlowOutcome BackupFlash(ProbeLink& link, const FlashRange& range, const std::string& header,
                        const std::string& path, const StatusSink& status,
                        ProgressDisplay& progress, std::string* fileError) {
  std::vector<uint8_t> flash(range.length);
  status("Backup: Reading Flash ...");
  TransferFailure failure;
  const ResultCode rc = ReadFlashPieces(
      link, range.address, range.length, flash.data(),
      [&](uint32_t done) {
        ShowPercent("Backup: Reading Flash ... ( %u%% )", status, progress, range.length, done);
      },
      &failure);
  if (rc != RESULT_OK) {
    status("Backup: Reading Flash ... failed!");
    return failure.code != RESULT_OK
               ? FlowOutcome::FailedAt(FlowStage::MemoryRead, rc, failure.address)
               : FlowOutcome::Failed(FlowStage::MemoryRead, rc);
  }

  std::string text;
  text.reserve(size_t{range.length} / kRecordBytes * 80 + 256);
  const std::string s0 = header.substr(0, kMaxHeaderText);
  AppendRecord(text, '0', 0, 2, reinterpret_cast<const uint8_t*>(s0.data()), s0.size());
  for (uint32_t offset = 0; offset < range.length; offset += kRecordBytes) {
    const uint32_t size = std::min(kRecordBytes, range.length - offset);
    AppendRecord(text, '3', range.address + offset, 4, flash.data() + offset, size);
  }
  AppendRecord(text, '7', 0, 4, nullptr, 0);

  std::string error;
  if (!ReplaceFileContents(path, text, error)) {
    if (fileError != nullptr) *fileError = error;
    status("Backup: Writing file ... failed!");
    return FlowOutcome::Failed(FlowStage::BackupFile, UPDATE_E_BACKUP_FILE);
  }
  status("Backup: Reading Flash ... passed!");
  return FlowOutcome::Passed();
}

std::string BackupSerialNumber(const std::string& header) {
  const std::string lead = kSerialLead;
  if (header.compare(0, lead.size(), lead) != 0) return "";
  const size_t end = header.find(' ', lead.size());
  return header.substr(lead.size(),
                       end == std::string::npos ? std::string::npos : end - lead.size());
}

std::vector<uint32_t> TouchedSectors(const FlashContents& contents) {
  std::vector<uint32_t> sectors;
  for (const FlashSector& sector : kFlashSectors) {
    const auto first = contents.present.begin() + (sector.address - kFlashBase);
    const auto last = first + sector.size;
    if (std::find(first, last, true) != last) sectors.push_back(sector.address);
  }
  return sectors;
}

RestoreResult RestoreFlash(ProbeLink& link, const FlashContents& file,
                           const RestoreOptions& options, const StatusSink& status,
                           ProgressDisplay& progress) {
  RestoreResult result;
  const std::string serial = BackupSerialNumber(file.header);
  if (!options.otherProbe && (serial.empty() || serial != options.probeSerial)) {
    result.outcome = FlowOutcome::Failed(FlowStage::OtherProbe);
    return result;
  }
  // Keeping the probe's setup block: the file's bytes for it are left out, so its sector is not
  // touched at all (what else the file holds in that sector is a setup of another time).
  FlashContents keptSetup;
  const FlashContents* chosen = &file;
  if (options.keepSetup) {
    const auto first = file.present.begin() + (SETUP_SECTOR - kFlashBase);
    const auto last = first + (SectorEnd(SETUP_SECTOR) - SETUP_SECTOR);
    if (std::find(first, last, true) != last) {
      keptSetup = file;
      std::fill(keptSetup.present.begin() + (first - file.present.begin()),
                keptSetup.present.begin() + (last - file.present.begin()), false);
      result.setupKept = true;
      chosen = &keptSetup;
    }
  }
  const FlashContents& contents = *chosen;
  result.sectors = TouchedSectors(contents);
  const std::vector<uint32_t>& sectors = result.sectors;
  if (sectors.empty()) {
    // Everything the file holds is the setup block kept: nothing to erase or write.
    status("Restore: Programming Flash ... passed!");
    return result;
  }
  TransferFailure* failure = &result.failure;
  const auto failed = [&](FlowStage stage, ResultCode rc, size_t leftFrom, size_t leftTo) {
    result.leftErased.assign(sectors.begin() + leftFrom, sectors.begin() + leftTo);
    result.outcome = failure->code != RESULT_OK ? FlowOutcome::FailedAt(stage, rc, failure->address)
                                                : FlowOutcome::Failed(stage, rc);
    return result;
  };
  struct Span {
    uint32_t address, end;
  };
  std::vector<Span> spans;
  uint32_t total = 0;
  for (uint32_t sector : sectors) {
    spans.push_back({sector, SectorEnd(sector)});
    total += SectorEnd(sector) - sector;
  }
  // A file that covers a sector only in part (a backup of a --range) must not cost the probe the
  // rest of that sector: those bytes are read first and written back with the file's.
  std::vector<uint8_t> image = contents.bytes;
  const auto at = [&image](uint32_t address) { return image.data() + (address - kFlashBase); };
  for (const Span& span : spans) {
    const auto first = contents.present.begin() + (span.address - kFlashBase);
    const auto last = contents.present.begin() + (span.end - kFlashBase);
    if (std::find(first, last, false) == last) continue;
    status("Restore: Reading Flash ...");
    std::vector<uint8_t> kept(span.end - span.address);
    const ResultCode rc = ReadFlashPieces(
        link, span.address, span.end - span.address, kept.data(), [](uint32_t) {}, failure);
    if (rc != RESULT_OK) {
      status("Restore: Reading Flash ... failed!");
      return failed(FlowStage::MemoryRead, rc, 0, 0);
    }
    for (uint32_t i = 0; i < kept.size(); ++i) {
      if (!first[i]) at(span.address)[i] = kept[i];
    }
  }

  status("Restore: Erasing Flash ...");
  for (size_t i = 0; i < spans.size(); ++i) {
    const ResultCode rc = EraseSector(link, spans[i].address);
    if (rc != RESULT_OK) {
      status("Restore: Erasing Flash ... failed!");
      // The sector whose erase failed may hold anything now; the ones before it are blank.
      result.leftErased.assign(sectors.begin(), sectors.begin() + i);
      result.outcome = FlowOutcome::FailedAt(FlowStage::FlashErase, rc, spans[i].address);
      result.firmwareUnmarked =
          FIRMWARE_SECTOR <= spans[i].address &&
          std::find(sectors.begin(), sectors.end(), FIRMWARE_SECTOR) != sectors.end();
      return result;
    }
  }

  // Erased bytes are 0xFF already: pieces of nothing else are not sent. The writer holds the
  // marker back until everything else is written, so a restore that stops half-way leaves the
  // firmware unmarked. The writes go in adaptive pieces, so a noisy line shrinks them instead of
  // failing the restore.
  status("Restore: Programming Flash ...");
  std::vector<WriteStep> steps;
  std::vector<size_t> spanOf;  // the span each step writes in
  uint32_t done = 0;
  for (size_t s = 0; s < spans.size(); ++s) {
    const Span& span = spans[s];
    for (uint32_t address = span.address; address < span.end; address += kPiece) {
      const uint32_t count = std::min(kPiece, span.end - address);
      done += count;
      steps.push_back({address, {at(address), at(address) + count}, done});
      spanOf.push_back(s);
    }
  }
  FlashWriter writer(link, WriteMode::Adaptive);
  size_t failedSpan = spans.size();
  ResultCode rc = writer.Write(
      steps, nullptr,
      [&](const WriteStep& step, ResultCode written) {
        if (written != RESULT_OK) {
          status("Restore: Programming Flash ... failed!");
          failedSpan = spanOf[&step - steps.data()];
          return;
        }
        ShowPercent("Restore: Programming Flash ... ( %u%% )", status, progress, total,
                    step.positionAfter);
      },
      true);
  if (rc != RESULT_OK) {
    *failure = writer.Failure();
    result.firmwareUnmarked = writer.HoldsMarker();
    if (failedSpan == spans.size()) {
      // The marker's own write: everything else is in.
      status("Restore: Programming Flash ... failed!");
      return failed(FlowStage::FlashWrite, rc, 0, 0);
    }
    return failed(FlowStage::FlashWrite, rc, failedSpan, spans.size());
  }
  status("Restore: Programming Flash ... passed!");

  status("Restore: Verifying Flash ...");
  std::vector<FlashBytes> ranges;
  for (const Span& span : spans) {
    ranges.push_back({span.address, {at(span.address), at(span.end)}});
  }
  FlashDifference difference;
  rc = writer.ReadBack(
      ranges, 0,
      [&](uint32_t n, uint32_t) {
        ShowPercent("Restore: Verifying Flash ... ( %u%% )", status, progress, total, n);
      },
      difference);
  if (rc == LDR_E_VERIFY) {
    status("Restore: Verifying Flash ... failed!");
    result.outcome = FlowOutcome::FailedAt(FlowStage::FlashWrite, LDR_E_VERIFY, difference.address);
    return result;
  }
  if (rc != RESULT_OK) {
    *failure = writer.Failure();
    status("Restore: Verifying Flash ... failed!");
    return failed(FlowStage::FlashWrite, rc, 0, 0);
  }
  status("Restore: Verifying Flash ... passed!");
  return result;
}

std::string RestoreFailureText(const RestoreResult& result, const FlashContents& contents,
                               const RestoreOptions& options, const std::string& file) {
  const FlowOutcome& outcome = result.outcome;
  if (outcome.passed) return "";
  if (outcome.stage == FlowStage::OtherProbe) {
    const std::string serial = BackupSerialNumber(contents.header);
    const std::string probe = options.probeSerial.empty() ? "this probe reports no serial number"
                                                          : "this probe is " + options.probeSerial;
    return (serial.empty() ? file + " names no probe serial number"
                           : file + " is a backup of probe " + serial) +
           ", " + probe + "; nothing erased";
  }
  std::string text;
  if (outcome.stage == FlowStage::FlashErase) {
    text = "erasing sector " + Hex32(outcome.address) + " failed";
  } else if (outcome.code == LDR_E_VERIFY) {
    text = "read back differs at " + Hex32(outcome.address);
  } else if (result.failure.code != RESULT_OK) {
    text = (result.failure.writing ? "could not write " : "could not read ") +
           Hex32(result.failure.address);
  } else {
    text = outcome.stage == FlowStage::MemoryRead ? "reading the flash failed"
                                                  : "programming the flash failed";
  }
  if (outcome.stage == FlowStage::MemoryRead) return text + "; nothing erased";
  if (!result.leftErased.empty()) {
    text += "; erased and not written back: ";
    bool lost = false;
    for (size_t i = 0; i < result.leftErased.size(); ++i) {
      const uint32_t sector = result.leftErased[i];
      text += (i == 0 ? "" : ", ") + Hex32(sector);
      const auto first = contents.present.begin() + (sector - kFlashBase);
      const auto last = first + (SectorEnd(sector) - sector);
      if (std::find(first, last, false) != last) {
        text += " (in part outside the file)";
        lost = true;
      }
    }
    if (lost) text += "; what those sectors held outside the file is lost";
  }
  if (result.firmwareUnmarked) text += "; the firmware is left unmarked and will not start";
  if (!result.leftErased.empty() || result.firmwareUnmarked || outcome.code == LDR_E_VERIFY) {
    text += "; restore " + file + " again to write them anew";
  }
  return text;
}

}  // namespace vanta
