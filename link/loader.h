#pragma once
// The probe loader's command set. Each command is one Transact on an open link: the request
// starts with the command code, the reply of the checked commands with its echo. The functions
// keep no state; the request and reply buffers belong to the link.
#include <cstdint>
#include <string>

#include "link/flash_map.h"
#include "link/link_session.h"
#include "link/result_codes.h"

namespace vanta {

enum LoaderCommand : uint8_t {
  LDR_IDENTIFY = 100,           // 'd'
  LDR_READ_MEMORY = 101,        // 'e'
  LDR_ERASE_SECTOR = 103,       // 'g'
  LDR_PROGRAM = 104,            // 'h'
  LDR_LOGIC_ACCESS = 105,       // 'i'
  LDR_LOGIC_DEVICE_TYPE = 106,  // 'j'
  LDR_LOGIC_READ_ROW = 107,     // 'k'
  LDR_LOGIC_PROGRAM_ROW = 108,  // 'l'
  LDR_LOGIC_READ_UES = 109,     // 'm'
  LDR_LOGIC_PROGRAM_UES = 110,  // 'n'
  LDR_LOGIC_ERASE = 112,        // 'p'
  LDR_START_FIRMWARE = 113,     // 'q'
  LDR_ENTER_LOADER = 114,       // 'r'
};

// A command code with its name and the extra reply time-out the probe's loader may take for it.
struct LoaderCommandInfo {
  uint8_t code;
  const char* name;  // "LDR_IDENTIFY"
  uint32_t extraTimeoutMs;
};

// The table entry of a command code, or nullptr for a code the tool does not send.
const LoaderCommandInfo* FindLoaderCommand(uint8_t code);
// Name of a command code ("LDR_IDENTIFY"), or nullptr for a code the tool does not send.
const char* LoaderCommandName(uint8_t code);

// One Transact of count request bytes (the first the command code) with that command's extra
// time-out (none for a code the tool does not send); the reply's payload length, the reply in
// link.ReplyBuffer(), or a session code. The request may lie in link.RequestBuffer().
int32_t TransactCommand(ProbeLink& link, const uint8_t* request, size_t count);

inline constexpr int kFuseRows = 134;
inline constexpr int kFusesPerRow = 240;
inline constexpr int kUesBits = 120;
inline constexpr uint8_t kExpectedLogicDeviceType = 19;

struct DeviceIdentity {
  uint16_t loaderVersion = 0;    // as reported; 0 means no probe identified
  uint16_t firmwareVersion = 0;  // corrected: 1..255, 0 when none
  uint16_t logicVersion = 0;     // corrected: 0..999, 0 when none
  std::string serialNumber;      // 8 or 10 characters as reported
};

// Stored firmware version to the version compared with image files: 0x16nn and 0xD6nn give nn,
// everything else 0 (unsigned 16-bit arithmetic that wraps).
uint16_t CorrectFirmwareVersion(uint16_t stored);
// Stored logic version 9000..9999 gives 0..999, everything else 0.
uint16_t CorrectLogicVersion(uint16_t stored);

// Decodes an LDR_IDENTIFY reply of length bytes into identity as ReadIdentity does from step 4
// on: a length other than 15 or 17 zeroes the versions and keeps the serial number (result 0);
// a wrong echo is LDR_E_BAD_REPLY with identity unchanged.
ResultCode DecodeIdentityReply(const uint8_t* reply, int32_t length, DeviceIdentity& identity);

// LDR_ENTER_LOADER then LDR_IDENTIFY. A reply 'r' to the first means the probe runs its
// firmware: after a 1000 ms wait LDR_E_NOT_IN_LOADER. An empty reply counts as not 'r'.
ResultCode ReadIdentity(ProbeLink& link, DeviceIdentity& identity);

// count bytes from address into dest (only after the length and echo checks passed).
ResultCode ReadMemory(ProbeLink& link, uint32_t address, uint16_t count, uint8_t* dest);
ResultCode EraseSector(ProbeLink& link, uint32_t address);
// replyValue receives the reply's bytes 2..5 also when the result is LDR_E_PROGRAM.
ResultCode ProgramMemory(ProbeLink& link, uint32_t address, uint16_t count, const uint8_t* data,
                         uint32_t& replyValue);

// The extra reply time-outs of the two bulk commands: how long the loader may work on them.
inline constexpr uint32_t kReadMemoryExtraMs = 10;
inline constexpr uint32_t kProgramExtraMs = 1000;

// ReadMemory and ProgramMemory as one piece of a bulk transfer: a single attempt whose reply wait
// is sized from this command's reply plus busyMs (ProbeLink::TransactOnce); the caller repeats a
// lost piece. Same checks and results.
ResultCode ReadMemoryPiece(ProbeLink& link, uint32_t address, uint16_t count, uint8_t* dest,
                           uint32_t busyMs);
ResultCode ProgramMemoryPiece(ProbeLink& link, uint32_t address, uint16_t count,
                              const uint8_t* data, uint32_t busyMs);

ResultCode EnterLogicAccess(ProbeLink& link);
ResultCode LeaveLogicAccess(ProbeLink& link);
// A reply of fewer than 2 bytes is LDR_E_BAD_REPLY.
ResultCode ReadLogicDeviceType(ProbeLink& link, uint8_t& deviceType);
ResultCode EraseLogic(ProbeLink& link);
// The first 240 characters of rowText are sent; a shorter text is refused with LDR_E_PROGRAM
// and nothing is sent.
ResultCode ProgramLogicRow(ProbeLink& link, uint8_t row, const std::string& rowText);
// The first 120 characters of uesText are sent; a shorter text is refused like a short row.
ResultCode ProgramLogicUes(ProbeLink& link, const std::string& uesText);
// programmed and erased readings of the row; on LDR_E_BAD_REPLY both keep their old contents.
ResultCode ReadLogicRow(ProbeLink& link, uint8_t row, std::string& programmed, std::string& erased);
ResultCode ReadLogicUes(ProbeLink& link, std::string& uesText);
ResultCode StartFirmware(ProbeLink& link);
// Erases kAllSectors in order, stopping at (and returning) the first failure.
ResultCode EraseAllSectors(ProbeLink& link);

}  // namespace vanta
