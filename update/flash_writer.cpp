#include "update/flash_writer.h"

#include <algorithm>

#include "link/loader.h"

namespace vanta {

namespace {

constexpr size_t kShortestSkippedRun = 64;  // erased bytes a step leaves out, at least
constexpr uint32_t kMarkerSize = sizeof kFirmwareMarker;
constexpr uint32_t kRepairBytes = 64;  // programmed again around a difference of extra one bits

bool AllErased(const std::vector<uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

void PadToWord(std::vector<uint8_t>& bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back(0xFF);
}

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

FlashWriter::FlashWriter(ProbeLink& link, WriteMode mode)
    : link_(link), mode_(mode), writes_(link), reads_(link) {}

ResultCode FlashWriter::WriteOne(uint32_t address, const uint8_t* data, uint32_t count) {
  if (mode_ == WriteMode::OneRequest) {
    uint32_t replyValue = 0;
    return ProgramMemory(link_, address, static_cast<uint16_t>(count), data, replyValue);
  }
  const ResultCode rc = writes_.Write(address, data, count);
  if (rc != RESULT_OK) failure_ = writes_.Failure();
  return rc;
}

ResultCode FlashWriter::Write(const std::vector<WriteStep>& steps, const uint8_t* marker,
                              const StepDone& after, bool skipBlankSteps) {
  // What the steps leave in the marker's bytes, ANDed as the flash does.
  uint8_t held[kMarkerSize] = {0xFF, 0xFF, 0xFF, 0xFF};
  if (marker != nullptr) std::copy(marker, marker + kMarkerSize, held);
  std::vector<uint8_t> bytes;
  for (const WriteStep& step : steps) {
    ResultCode rc = RESULT_OK;
    bytes = step.bytes;
    for (uint32_t i = 0; i < kMarkerSize; ++i) {
      const uint64_t at = uint64_t{FIRMWARE_SECTOR} + i;
      if (at < step.address || at - step.address >= bytes.size()) continue;
      uint8_t& byte = bytes[at - step.address];
      held[i] &= byte;
      byte = 0xFF;
    }
    if (!bytes.empty() && !(skipBlankSteps && AllErased(bytes))) {
      rc = WriteOne(step.address, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    if (after) after(step, rc);
    if (rc != RESULT_OK) {
      holdsMarker_ = !std::all_of(held, held + kMarkerSize, [](uint8_t b) { return b == 0xFF; });
      return rc;
    }
  }
  holdsMarker_ = !std::all_of(held, held + kMarkerSize, [](uint8_t b) { return b == 0xFF; });
  if (!holdsMarker_) return RESULT_OK;
  return WriteOne(FIRMWARE_SECTOR, held, kMarkerSize);
}

ResultCode FlashWriter::ReadBack(const std::vector<FlashBytes>& ranges, uint64_t resumeFrom,
                                 const ReadProgress& progress, FlashDifference& difference) {
  uint32_t total = 0;
  for (const FlashBytes& range : ranges) total += static_cast<uint32_t>(range.bytes.size());
  uint32_t before = 0;  // bytes of the ranges already compared
  std::vector<uint8_t> read;
  for (const FlashBytes& range : ranges) {
    const uint64_t end = range.address + range.bytes.size();
    const uint32_t skip =
        static_cast<uint32_t>(std::clamp<uint64_t>(resumeFrom, range.address, end) - range.address);
    const uint32_t address = static_cast<uint32_t>(range.address) + skip;
    const uint32_t count = static_cast<uint32_t>(range.bytes.size()) - skip;
    before += skip;
    read.assign(count, 0);
    const ResultCode rc = reads_.Read(
        address, count, read.data(),
        [&](uint32_t done) {
          if (progress) progress(before + done, total);
        },
        range.bytes.data() + skip);
    if (rc != RESULT_OK) {
      failure_ = reads_.Failure();
      return rc;
    }
    const auto mismatch = std::mismatch(read.begin(), read.end(), range.bytes.begin() + skip);
    if (mismatch.first != read.end()) {
      difference.address = address + static_cast<uint32_t>(mismatch.first - read.begin());
      difference.found = *mismatch.first;
      difference.wanted = *mismatch.second;
      failure_ = {difference.address, LDR_E_VERIFY, false};
      return LDR_E_VERIFY;
    }
    before += count;
  }
  return RESULT_OK;
}

ResultCode FlashWriter::ReadBackAndMend(const std::vector<FlashBytes>& ranges,
                                        const MendRules& rules, const ReadProgress& progress,
                                        const std::function<void()>& onPass,
                                        const MendNotice& onMend, FlashDifference& difference,
                                        uint32_t& rewrites) {
  struct Mends {
    uint32_t sector;
    int rewrites = 0;
    int repairs = 0;
  };
  std::vector<Mends> mends;
  const uint32_t began = link_.GetClock().TickMs();
  uint64_t resumeFrom = 0;
  for (;;) {
    if (onPass) onPass();
    ResultCode rc = ReadBack(ranges, resumeFrom, progress, difference);
    if (rc != LDR_E_VERIFY) return rc;
    const FlashSector* holder = SectorOf(difference.address);
    if (holder == nullptr || std::find(rules.sectors.begin(), rules.sectors.end(),
                                       holder->address) == rules.sectors.end()) {
      return rc;
    }
    const uint32_t sector = holder->address;
    auto it = std::find_if(mends.begin(), mends.end(),
                           [&](const Mends& m) { return m.sector == sector; });
    if (it == mends.end()) it = mends.insert(mends.end(), Mends{sector});
    const FlashBytes& range = *std::find_if(ranges.begin(), ranges.end(), [&](const FlashBytes& r) {
      return difference.address >= r.address && difference.address - r.address < r.bytes.size();
    });
    if ((difference.found & difference.wanted) == difference.wanted &&
        it->repairs < rules.repairs) {
      // Only bits to clear (programming clears bits): the piece around the difference is
      // programmed again in place, without an erase.
      ++it->repairs;
      if (onMend) onMend(difference.address, sector, false);
      const uint32_t from =
          std::max<uint32_t>(static_cast<uint32_t>(range.address), difference.address & ~3u);
      const uint32_t to = static_cast<uint32_t>(
          std::min<uint64_t>(range.address + range.bytes.size(), uint64_t{from} + kRepairBytes));
      std::vector<uint8_t> bytes(range.bytes.begin() + (from - range.address),
                                 range.bytes.begin() + (to - range.address));
      PadToWord(bytes);
      rc = writes_.Write(from, bytes.data(), static_cast<uint32_t>(bytes.size()));
      if (rc != RESULT_OK) {
        failure_ = writes_.Failure();
        return rc;
      }
      resumeFrom = from;
      continue;
    }
    if (it->rewrites >= rules.rewrites || link_.GetClock().TickMs() - began > rules.windowMs) {
      failure_ = {difference.address, LDR_E_VERIFY, false};
      return LDR_E_VERIFY;
    }
    ++it->rewrites;
    ++rewrites;
    if (onMend) onMend(difference.address, sector, true);
    rc = RewriteSector(sector, ranges);
    if (rc != RESULT_OK) return rc;
    resumeFrom = sector;
  }
}

ResultCode FlashWriter::RewriteSector(uint32_t sector, const std::vector<FlashBytes>& ranges) {
  // A byte the line changed in a write that its one-byte check let through cannot be mended in
  // place (programming only clears bits): the sector is erased and its part written again.
  if (const ResultCode rc = EraseSector(link_, sector); rc != RESULT_OK) {
    failure_ = {};
    return rc;
  }
  const uint64_t end = SectorEnd(sector);
  std::vector<WriteStep> clipped;
  for (const FlashBytes& range : ranges) {
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
  // The adaptive writes whatever the run's mode: the mend is the merged writes' own.
  const WriteMode mode = mode_;
  mode_ = WriteMode::Adaptive;
  const ResultCode rc = Write(SkipErasedRuns(clipped), nullptr, {}, true);
  mode_ = mode;
  return rc;
}

}  // namespace vanta
