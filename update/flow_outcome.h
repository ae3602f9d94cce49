#pragma once
// What a button's flow did, as a value: the window shows texts and ignores this; the command
// line, the soak and the benchmarks decide from nothing else, so rewording a text changes no
// exit status.
#include <cstdint>

#include "link/result_codes.h"

namespace vanta {

// The step at which a flow stopped.
enum class FlowStage {
  None,             // the flow passed
  Form,             // the save exchange refused an entry; nothing was sent
  Declined,         // the erase was not confirmed; nothing was sent
  Connect,          // the link could not be opened or no loader answered
  NoProbe,          // a loader answered, but reported no Vanta7
  IdentityRead,     // reading the versions and serial number
  FirmwareFile,     // the firmware image is missing or holds a bad record
  FirmwareErase,    // erasing the firmware sectors
  FirmwareWrite,    // programming the records or the marker
  FirmwareVerify,   // reading the programmed image back (--verify)
  LogicFile,        // the JEDEC file is missing or malformed
  LogicAccess,      // entering or leaving logic access
  LogicDeviceType,  // reading the logic device type, or an unknown type
  LogicErase,       // erasing the logic device
  LogicProgram,     // programming the fuse rows or the UES
  LogicVerify,      // reading back the fuse rows or the UES
  FlashErase,       // erasing all flash sectors (Erase)
  SetupBlock,       // writing or reading back the setup block and configuration
  ConfigFile,       // the configuration file cannot be used
  RegisterFile,     // a register file named by the configuration cannot be used
  MemoryRead,       // reading probe memory on its own (command line)
  BackupFile,       // the backup file cannot be written (command line)
  RestoreFile,      // the file to restore is unreadable or malformed (command line)
  OtherProbe,       // the backup to restore names another probe, or none; nothing was sent
  FlashWrite,       // programming flash from a backup (command line)
  ExtractFile,      // a stored setup file cannot be written out (command line)
  Options,          // an option or argument the command line refuses; nothing was sent
  ProbeSearch,      // no port given and a scan found no probe, or several (command line)
};

// Where a file's text is wrong: its line (1 = the first; 0 = the file as a whole) and what the
// parser expected there.
struct ParseProblem {
  uint32_t line = 0;
  const char* expected = "";
};

struct FlowOutcome {
  bool passed = true;
  FlowStage stage = FlowStage::None;
  // The failing operation's code; RESULT_OK where the failure is no operation's (an unknown
  // logic device type, a refused entry). LDR_E_VERIFY stands for every read-back that differs.
  ResultCode code = RESULT_OK;
  ParseProblem problem;  // for the firmware and logic file stages: what is wrong and where
  // Where a bulk transfer stopped: the address that could not be written or read after its
  // tries, or the first one that read back different (LDR_E_VERIFY).
  bool hasAddress = false;
  uint32_t address = 0;

  static FlowOutcome Passed() { return {}; }
  static FlowOutcome Failed(FlowStage stage, ResultCode code = RESULT_OK) {
    return {false, stage, code, {}};
  }
  static FlowOutcome FailedAt(FlowStage stage, ResultCode code, uint32_t address) {
    return {false, stage, code, {}, true, address};
  }
};

// The stage's name in a few lower-case words ("firmware write"); "" for None.
const char* StageName(FlowStage stage);

}  // namespace vanta
