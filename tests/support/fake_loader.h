#pragma once
// A probe loader model behind FakeProbe, for unit tests of the update flows without a
// pseudo-terminal: flash (erase to 0xFF, programming ANDs), the logic device and the identity,
// with every request recorded and a script hook for faults. Time runs on a FakeClock.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "tests/support/fake_port.h"

namespace vanta::test {

class FakeLoader {
 public:
  static constexpr uint32_t kFlashBase = 0x01000000;
  static constexpr uint32_t kFlashSize = 0x00100000;

  // Opens Link() over a fake port at 115200 bit/s.
  FakeLoader();

  ProbeLink& Link() { return *link_; }

  // Flash model.
  std::vector<uint8_t> flash;  // kFlashSize bytes from kFlashBase, erased 0xFF
  std::vector<uint8_t> Flash(uint32_t address, uint32_t count) const;
  // Logic device model: fuses read '1' erased; programming ANDs the row text in.
  std::vector<std::string> rows;
  std::string ues;
  uint8_t deviceType = 19;
  bool inLogicAccess = false;

  // Identity: the firmware version is the word at 0x01040004 when the marker AA 55 55 AA is at
  // 0x01040000, the logic version 9nnn when the UES text is "B6001E9nnn".
  uint16_t loaderVersion = 0x0102;
  std::string serialNumber = "12345678";
  // Marks flash with firmware version 0x16nn (as a programmed image would) / sets the UES.
  void InstallFirmwareVersion(uint8_t version);
  void InstallLogicVersion(uint16_t version);

  // Faults: return true to answer with reply instead of the model (nullopt: no reply at all).
  // index counts the loader requests from 0.
  std::function<bool(const Bytes& request, int index, std::optional<Bytes>& reply)> script;
  int failProgramAt = -1;  // this LDR_PROGRAM (0-based) reports status 1 and stores nothing
  int64_t failEraseSector = -1;

  // Every loader request since the link opened (code byte first).
  std::vector<Bytes> requests;
  std::vector<uint8_t> Codes() const;
  // The requests with this code.
  std::vector<Bytes> Requests(uint8_t code) const;
  void ClearRequests() { requests.clear(); }

 private:
  std::optional<Bytes> Answer(const Bytes& request);
  bool InFlash(uint64_t address, uint64_t count) const;

  FakeClock clock_;
  FakePort* port_ = nullptr;  // owned by link_
  std::unique_ptr<FakeProbe> probe_;
  std::unique_ptr<ProbeLink> link_;
  int programs_ = 0;
};

// The 120 bit characters of the first 15 characters of text (missing ones count 0).
std::string UesBitsOf(const std::string& text);

}  // namespace vanta::test
