#pragma once
// The virtual Vanta7 probe: a model of the probe's boot loader on the master side of a
// pseudo-terminal. Tests run it in-process on a thread; vanta7-sim runs it as a program.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/flash_map.h"
#include "sim/fault_knobs.h"

namespace vanta::sim {

using vanta::kFlashBase;
using vanta::kFlashSize;

struct ProbeOptions {
  uint32_t startSpeed = 9600;    // the loader's line speed after reset
  uint32_t topSpeed = 115200;    // highest speed it agrees to in LINK_SET_SPEED
  uint32_t answerSpeed = 0;      // speed named in the LINK_SET_SPEED reply; 0 = asked, capped
  uint16_t loaderVersion = 102;  // shown as 1.02
  std::string serialNumber = "12345678";  // 8 or 10 characters
  uint8_t logicDeviceType = 19;
  bool linePacing = false;        // bytes take 10 bit times at the line speed
  bool repeatRedoesWork = false;  // a repeated request: redo the work (true) or resend the cache
  std::string flashFile;          // load the flash image from here and save it back on Stop
  uint32_t seed = 1;              // for the random faults
};

// What crossed the line, for benchmarks and tests.
struct Counters {
  uint64_t bytesIn = 0;   // tool to probe
  uint64_t bytesOut = 0;  // probe to tool
  uint64_t framesIn = 0;  // well-formed frames received
  uint64_t framesOut = 0;
  uint64_t repeatsSeen = 0;   // requests that came again with the same header
  uint64_t busyMicros = 0;    // modelled operation busy time spent
  uint64_t wireNanos = 0;     // ten bit times of every byte each way, at the speed of its time
  uint64_t garbledBytes = 0;  // bytes lost to a speed mismatch
};

class VirtualProbe {
 public:
  explicit VirtualProbe(ProbeOptions options = {});
  ~VirtualProbe();  // stops the thread and closes the pty
  VirtualProbe(const VirtualProbe&) = delete;
  VirtualProbe& operator=(const VirtualProbe&) = delete;

  // Creates the pseudo-terminal and starts serving it on a thread. false when no pty can be had,
  // or when options.flashFile exists but is not a 1 MiB image (it is then left untouched).
  bool Start();
  void Stop();
  // The slave device the tool opens ("/dev/pts/N").
  std::string DevicePath() const;

  // Everything below is safe to call while the probe runs.
  FaultKnobs& Faults();  // changed between or during transactions
  Counters GetCounters() const;
  void ResetCounters();
  // Codes of the loader commands received (one entry per command handled, repeats included).
  std::vector<uint8_t> CommandLog() const;
  void ClearCommandLog();

  // Flash model: erased bytes 0xFF, programming ANDs, sector 0x01000000 (loader) protected.
  std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t count) const;
  // Puts bytes into flash as if programmed (ANDed into what is there).
  void ProgramFlash(uint32_t address, const std::vector<uint8_t>& bytes);
  void EraseFlashSector(uint32_t sectorAddress);
  // Stores firmware version 0x16nn with the marker at FIRMWARE_SECTOR (a fake installed image).
  void InstallFirmwareVersion(uint8_t version);

  // Logic device model: 134 rows of 240 fuses and a 120-bit UES, as '0'/'1' texts.
  std::vector<std::string> LogicRows() const;
  std::string LogicUes() const;
  // Programs the UES with "B6001E9nnn" for version (logic version as stored 9nnn).
  void InstallLogicVersion(uint16_t version);
  void SetSerialNumber(const std::string& serial);
  void SetLogicDeviceType(uint8_t type);

  // Identity as the model would report it now (stored values, before the tool's correction).
  uint16_t StoredFirmwareVersion() const;
  uint16_t StoredLogicVersion() const;

  bool InFirmwareMode() const;  // after LDR_START_FIRMWARE until the next loader restart
  uint32_t LineSpeed() const;   // the model's current line speed

  // Closes the master side now: the tool sees the other end gone.
  void HangUp();

  // Receives one line of text per event on the line (link-control message, loader command and
  // its reply, speed change, loader restart, hang-up), on the serving thread. Set before Start.
  void SetTraceSink(std::function<void(const std::string&)> sink);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vanta::sim
