#pragma once
// The probe's boot loader: answers one loader command (the request behind the message header)
// from its flash and logic models, its identity and the loader faults of FaultKnobs. No line,
// no threads: the pty host calls it, and unit tests call it directly.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/fault_knobs.h"
#include "sim/flash_model.h"
#include "sim/logic_model.h"

namespace vanta::sim {

struct LoaderReply {
  std::vector<uint8_t> bytes;  // reply behind the message header
  bool send = true;            // false: the loader answers nothing
  uint32_t busyMs = 0;         // modelled operation time before the reply goes out
  bool restartLoader = false;  // once the reply has gone: back to the loader at its start speed
  // A sector erase that takes busy time: the sector is erased when that time is over, just
  // before the reply goes out (-1: none, or done at once).
  int64_t eraseWhenDone = -1;
};

struct LoaderIdentity {
  uint16_t loaderVersion = 102;  // shown as 1.02
  std::string serialNumber = "12345678";
  uint8_t logicDeviceType = 19;
};

class LoaderModel {
 public:
  LoaderModel(LoaderIdentity identity, FaultKnobs& faults);

  // One request: command code first, then its fields.
  LoaderReply Handle(const uint8_t* request, size_t count);

  // Back to the loader after a reset: loader mode, logic access closed.
  void Restart();
  bool InFirmwareMode() const { return firmwareMode_; }

  FlashModel& Flash() { return flash_; }
  const FlashModel& Flash() const { return flash_; }
  LogicModel& Logic() { return logic_; }
  const LogicModel& Logic() const { return logic_; }
  LoaderIdentity& Identity() { return identity_; }

  // Big-endian word at FIRMWARE_SECTOR + 4 when the marker AA 55 55 AA opens the sector, else 0.
  uint16_t StoredFirmwareVersion() const;
  uint16_t StoredLogicVersion() const { return logic_.StoredVersion(); }
  // The LDR_IDENTIFY reply: 'd', three versions, 8 or 10 serial characters (15 or 17 bytes).
  std::vector<uint8_t> IdentifyReply() const;

  uint32_t ProgramRequestsSeen() const { return programRequests_; }

 private:
  LoaderReply HandleInLoader(const uint8_t* request, size_t count);
  LoaderReply ReadMemory(const uint8_t* request, size_t count);
  LoaderReply EraseSector(const uint8_t* request, size_t count);
  LoaderReply Program(const uint8_t* request, size_t count);
  LoaderReply LogicCommand(uint8_t code, const uint8_t* request, size_t count);

  LoaderIdentity identity_;
  FaultKnobs& faults_;
  FlashModel flash_;
  LogicModel logic_;
  bool firmwareMode_ = false;
  bool logicAccess_ = false;
  uint32_t programRequests_ = 0;
};

}  // namespace vanta::sim
