#pragma once
// The one way bytes reach the probe's flash and are checked there: firmware programming (record by
// record or in merged pieces), the sector rewrite after a read-back that differs, and restore all
// write through it, so each keeps the same rules: the firmware marker goes last, erased runs may
// stay with the erase, and a read-back counts a difference only once two reads of it agree.
#include <cstdint>
#include <functional>
#include <vector>

#include "link/flash_map.h"
#include "link/link_session.h"
#include "link/result_codes.h"
#include "update/bulk_transfer.h"

namespace vanta {

// Bytes to leave in flash from address on.
struct FlashBytes {
  uint64_t address = 0;
  std::vector<uint8_t> bytes;
};

// One step of a write run: a write of bytes (none when empty), then the progress a caller shows.
struct WriteStep {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
  uint32_t positionAfter = 0;
};

// Pads bytes with 0xFF to a multiple of 4 (which leaves flash as it is).
void PadToWord(std::vector<uint8_t>& bytes);

// The erase leaves 0xFF, and writing 0xFF leaves flash as it is: each step is cut around runs of
// 0xFF of at least 64 bytes, on whole words from the step's start so every piece keeps its
// alignment. The pieces before a step's last show the previous step's progress.
std::vector<WriteStep> SkipErasedRuns(const std::vector<WriteStep>& steps);

enum class WriteMode {
  OneRequest,  // each step one request, tried three times (the window's record-by-record run)
  Adaptive,  // adaptive pieces that a noisy line shrinks, each sent again a bounded number of times
};

// How a read-back that differs is mended: only inside sectors (each of mendSector's size) listed,
// bits to clear programmed again up to repairs times a sector, otherwise the sector erased and its
// part written again up to rewrites times, none begun once windowMs have passed.
struct MendRules {
  std::vector<uint32_t> sectors;  // none: a difference fails the read-back at once
  int repairs = 8;
  int rewrites = 3;
  uint32_t windowMs = 5 * 60 * 1000;
};

// Where a read-back found flash different from what it should hold.
struct FlashDifference {
  uint32_t address = 0;
  uint8_t found = 0;
  uint8_t wanted = 0;
};

class FlashWriter {
 public:
  FlashWriter(ProbeLink& link, WriteMode mode);

  // Called after each step with its write's code (RESULT_OK for an empty step).
  using StepDone = std::function<void(const WriteStep& step, ResultCode rc)>;
  // Writes steps in order. The four marker bytes at FIRMWARE_SECTOR are held back from every
  // step (sent as 0xFF) and written last, ANDed with marker when given, once everything else is
  // in: a run that stops half-way leaves the firmware unmarked. A failed write ends the run there.
  // With skipBlankSteps a step that holds nothing but 0xFF then is not sent: the erase left it.
  ResultCode Write(const std::vector<WriteStep>& steps, const uint8_t* marker,
                   const StepDone& after = {}, bool skipBlankSteps = false);
  // Whether the last Write had marker bytes to write (so a failure left the firmware unmarked).
  bool HoldsMarker() const { return holdsMarker_; }

  // Reads ranges back from resumeFrom on in confirmed adaptive pieces and compares them: a piece
  // that differs counts only once two reads of it agree, so a reply the line changed is read again
  // instead of reported. LDR_E_VERIFY with difference filled at the first difference.
  using ReadProgress = std::function<void(uint32_t done, uint32_t total)>;
  ResultCode ReadBack(const std::vector<FlashBytes>& ranges, uint64_t resumeFrom,
                      const ReadProgress& progress, FlashDifference& difference);

  // ReadBack, mending a difference inside rules.sectors and reading on from there. onPass is told
  // before each pass of the read-back, onMend before each mend (rewrite: the sector is erased and
  // written again, else bits are programmed again in place); rewrites counts the rewrites. A
  // difference that stays, or lies outside the sectors, is LDR_E_VERIFY with difference filled.
  using MendNotice = std::function<void(uint32_t difference, uint32_t sector, bool rewrite)>;
  ResultCode ReadBackAndMend(const std::vector<FlashBytes>& ranges, const MendRules& rules,
                             const ReadProgress& progress, const std::function<void()>& onPass,
                             const MendNotice& onMend, FlashDifference& difference,
                             uint32_t& rewrites);

  // Erases sector and writes its part of ranges again, long runs of 0xFF left to the erase and the
  // marker last when it lives there.
  ResultCode RewriteSector(uint32_t sector, const std::vector<FlashBytes>& ranges);

  // The address a failed write or read gave up at (code RESULT_OK: none named).
  const TransferFailure& Failure() const { return failure_; }
  const TransferStats& WriteStats() const { return writes_.Stats(); }
  const TransferStats& ReadStats() const { return reads_.Stats(); }

 private:
  ResultCode WriteOne(uint32_t address, const uint8_t* data, uint32_t count);

  ProbeLink& link_;
  WriteMode mode_;
  BulkTransfer writes_;
  BulkTransfer reads_;
  TransferFailure failure_;
  bool holdsMarker_ = false;
};

}  // namespace vanta
