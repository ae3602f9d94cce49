#pragma once
// Firmware programming: erase the firmware sectors, write the S-records, mark the image valid.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/result_codes.h"
#include "update/bulk_transfer.h"
#include "update/flash_writer.h"
#include "update/flow_outcome.h"
#include "update/image_catalogue.h"
#include "update/step_view.h"

namespace vanta {

// Receives status-line texts.
using StatusSink = std::function<void(const std::string&)>;

// The progress display of one window or one command-line run: the last shown percentage starts
// at 0 and is kept between runs of the same display.
struct ProgressDisplay {
  uint16_t lastShown = 0;
  ProgressSink* sink = nullptr;  // where the numbers go as well, when given
};

// percent = position * 100 / total (32-bit, then cut to 16 bits); when it differs from
// progress.lastShown, shows format with the percent in its one %u placeholder and remembers it,
// and hands position and total (bytes) to progress.sink.
void ShowPercent(const char* format, const StatusSink& status, ProgressDisplay& progress,
                 uint32_t total, uint32_t position);

// One line of an image as the programming run uses it: its data (empty for a line that carries
// nothing) and the byte position after it, which the progress display shows.
struct ImageLine {
  uint32_t address = 0;
  std::vector<uint8_t> data;
  uint32_t positionAfter = 0;
};

// Cuts text into lines as the file layer reads them (at most 255 characters a piece) and parses
// each as an S-record. false at the first bad record (problem names its line), or for an image
// without any data record (line 0): nothing of such an image may reach the probe.
bool ParseFirmwareImage(const uint8_t* text, size_t size, std::vector<ImageLine>& lines,
                        ParseProblem& problem);

// What a firmware run is asked to do.
struct FirmwareOptions {
  ImageDirectories imageDirs;  // where "VT7PP4FW.nnn" is looked for, first match used
  // --fast: contiguous records merged and written in adaptive pieces of up to 1024 bytes
  bool mergeRecords = false;
  bool skipErasedRuns = true;   // with mergeRecords: long runs of 0xFF are not sent
  bool verifyReadBack = false;  // --verify: read the image back after the marker
};

// What a firmware run did.
struct FirmwareResult {
  ResultCode code = RESULT_OK;
  // Passed, or the stage it stopped at and the code, with the address where the read-back or a
  // --fast write gave up or the read-back first differs, and for a bad file its problem.
  FlowOutcome outcome = FlowOutcome::Passed();
  bool differs = false;          // the read-back found a difference that stayed
  uint32_t firstDifference = 0;  // ... at this address
  TransferStats writeStats;      // with mergeRecords: what the adaptive writes did
  TransferStats readStats;       // with verifyReadBack: what the read-back did
  // with mergeRecords and verifyReadBack: firmware sectors erased and written again because their
  // read-back differed (each at most three times, none begun after five minutes of read-back)
  uint32_t rewrittenSectors = 0;
};

// Programs the image of version found in options.imageDirs. The whole file is read and checked
// first: a file that cannot be opened (status untouched), holds a bad record or no data record at
// all ("Firmware: Programming Flash ... failed!") gives LDR_E_FIRMWARE_FILE before anything is
// erased. Then the three firmware sectors are erased, the records written and the marker
// AA 55 55 AA written last.
FirmwareResult ProgramFirmware(ProbeLink& link, ImageVersion version, const StatusSink& status,
                               ProgressDisplay& progress, const FirmwareOptions& options = {});

}  // namespace vanta
