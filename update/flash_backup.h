#pragma once
// The probe's flash to and from a Motorola S-record file: S0 header, S3 data records, S7 end.
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/result_codes.h"
#include "update/bulk_transfer.h"
#include "update/firmware.h"

namespace vanta {

inline constexpr uint32_t kFlashBase = 0x01000000;
inline constexpr uint32_t kFlashSize = 0x00100000;
inline constexpr uint32_t kLoaderSectorEnd = 0x01008000;  // the loader's sector: never written

struct FlashRange {
  uint32_t address = kLoaderSectorEnd;
  uint32_t length = kFlashBase + kFlashSize - kLoaderSectorEnd;  // every sector but the loader's
};

// True when the range is not empty and lies inside the flash.
bool RangeInsideFlash(const FlashRange& range);

// Reads range from the probe and writes it to path as S-records with header as the S0 text. The
// file is written beside path under a temporary name and renamed only when complete, so a failed
// run never leaves a partial backup under the name asked for. Result: a transaction's code, or
// UPDATE_E_BACKUP_FILE when the file cannot be written (fileError then says why).
ResultCode BackupFlash(ProbeLink& link, const FlashRange& range, const std::string& header,
                       const std::string& path, const StatusSink& status, ProgressDisplay& progress,
                       std::string* fileError = nullptr);

// The flash as a backup file describes it: a byte for every address of the flash, with the ones
// the file names marked present.
struct FlashContents {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kFlashSize, 0xFF);
  std::vector<bool> present = std::vector<bool>(kFlashSize, false);
  std::string header;  // the S0 text, "" without one
};

// What is wrong with a backup file: the line (from 1; 0 for the file as a whole) and a sentence.
struct BackupFileProblem {
  int line = 0;
  std::string what;
};

// Reads and checks the whole file: every line a well-formed S0, S3, S5 or S7 record with a correct
// checksum, every data byte inside the flash and outside the loader's sector, at least one data
// byte. false with problem filled at the first fault.
bool ReadBackupFile(const std::string& path, FlashContents& contents, BackupFileProblem& problem);

// Start addresses of the sectors that hold a present byte, ascending.
std::vector<uint32_t> TouchedSectors(const FlashContents& contents);

// Erases the touched sectors (nothing else) after reading the bytes of them that the file does not
// name, writes the file's bytes and those kept ones, the firmware validity marker
// (the first four bytes of the firmware sector) last when that sector is among them, then reads
// every touched sector back: LDR_E_VERIFY with *firstDifference set when it differs. Reads and
// writes go in adaptive pieces; a piece that gives up fills failure (when given) with its address.
ResultCode RestoreFlash(ProbeLink& link, const FlashContents& contents, const StatusSink& status,
                        ProgressDisplay& progress, uint32_t* firstDifference = nullptr,
                        TransferFailure* failure = nullptr);

}  // namespace vanta
