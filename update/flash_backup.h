#pragma once
// The probe's flash to and from a Motorola S-record file: S0 header, S3 data records, S7 end.
#include <cstdint>
#include <string>
#include <vector>

#include "link/flash_map.h"
#include "link/link_session.h"
#include "link/result_codes.h"
#include "update/backup_file.h"
#include "update/bulk_transfer.h"
#include "update/firmware.h"
#include "update/flow_outcome.h"

namespace vanta {

struct FlashRange {
  uint32_t address = kLoaderSectorEnd;
  uint32_t length = kFlashBase + kFlashSize - kLoaderSectorEnd;  // every sector but the loader's
};

// True when the range is not empty and lies inside the flash.
bool RangeInsideFlash(const FlashRange& range);

// Reads range from the probe and writes it to path as S-records with header as the S0 text. The
// file is written beside path under a temporary name and renamed only when complete, so a failed
// run never leaves a partial backup under the name asked for. A failed read is a MemoryRead
// outcome (with the address a piece gave up at, when one did); a file that cannot be written a
// BackupFile one with UPDATE_E_BACKUP_FILE (fileError then says why).
FlowOutcome BackupFlash(ProbeLink& link, const FlashRange& range, const std::string& header,
                        const std::string& path, const StatusSink& status,
                        ProgressDisplay& progress, std::string* fileError = nullptr);

// Start addresses of the sectors that hold a present byte, ascending.
std::vector<uint32_t> TouchedSectors(const FlashContents& contents);

// The serial number the S0 text of a backup names ("vantaLink backup serial 12345678 loader ..."),
// or "" when it names none.
std::string BackupSerialNumber(const std::string& header);

struct RestoreOptions {
  // The connected probe's serial number as its loader reports it. A backup is written only onto
  // the probe it names; anything else (another serial, none named, none reported) is refused
  // before the probe is touched unless otherProbe is set.
  std::string probeSerial;
  bool otherProbe = false;
  // The probe keeps its own SETUP_SECTOR (its MAC and IP addresses): the file's bytes there are
  // left out, so the sector is neither erased nor written.
  bool keepSetup = false;
};

struct RestoreResult {
  FlowOutcome outcome;
  std::vector<uint32_t> sectors;  // the sectors the restore erases and writes, ascending
  bool setupKept = false;         // keepSetup left out bytes the file has for SETUP_SECTOR
  // After a failure: the sectors this run erased that do not hold the file's bytes now (erased,
  // or written in part), and whether the firmware was left without its marker.
  std::vector<uint32_t> leftErased;
  bool firmwareUnmarked = false;
  TransferFailure failure;  // a piece that gave up: its address, and whether it was a write
};

// Checks the file's serial number against options (OtherProbe outcome, nothing sent), then erases
// the touched sectors (nothing else) after reading the bytes of them that the file does not
// name, writes the file's bytes and those kept ones, the firmware validity marker (the first four
// bytes of the firmware sector) last when that sector is among them, then reads every touched
// sector back. Outcomes: FlashErase at the sector whose erase failed, FlashWrite at the address a
// piece gave up at or, with LDR_E_VERIFY, the first that reads back different.
RestoreResult RestoreFlash(ProbeLink& link, const FlashContents& contents,
                           const RestoreOptions& options, const StatusSink& status,
                           ProgressDisplay& progress);

// One line for the user on a failed restore: what went wrong and, after an erase, the sectors
// left without the file's bytes and what to do; file is the backup's path.
std::string RestoreFailureText(const RestoreResult& result, const FlashContents& contents,
                               const RestoreOptions& options, const std::string& file);

}  // namespace vanta
