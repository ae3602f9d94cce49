#include "link/loader.h"

#include <cstring>

#include "link/packing.h"
#include "platform/clock.h"

namespace vanta {
namespace {

// The commands with the extra reply time-out of each: how long the probe's loader may work on it.
constexpr LoaderCommandInfo kCommands[] = {
    {LDR_IDENTIFY, "LDR_IDENTIFY", 1000},
    {LDR_READ_MEMORY, "LDR_READ_MEMORY", kReadMemoryExtraMs},
    {LDR_ERASE_SECTOR, "LDR_ERASE_SECTOR", 10000},
    {LDR_PROGRAM, "LDR_PROGRAM", kProgramExtraMs},
    {LDR_LOGIC_ACCESS, "LDR_LOGIC_ACCESS", 100},
    {LDR_LOGIC_DEVICE_TYPE, "LDR_LOGIC_DEVICE_TYPE", 100},
    {LDR_LOGIC_READ_ROW, "LDR_LOGIC_READ_ROW", 100},
    {LDR_LOGIC_PROGRAM_ROW, "LDR_LOGIC_PROGRAM_ROW", 300},
    {LDR_LOGIC_READ_UES, "LDR_LOGIC_READ_UES", 100},
    {LDR_LOGIC_PROGRAM_UES, "LDR_LOGIC_PROGRAM_UES", 300},
    {LDR_LOGIC_ERASE, "LDR_LOGIC_ERASE", 600},
    {LDR_START_FIRMWARE, "LDR_START_FIRMWARE", 200},
    {LDR_ENTER_LOADER, "LDR_ENTER_LOADER", 10},
};

// The running firmware answers the loader-entry request and then resets into the loader; this
// gives it the time to come back before the caller tries again.
constexpr uint32_t kFirmwareRestartMs = 1000;

// One request/reply exchange over the link's shared buffers; the reply length or a session code.
int32_t Exchange(ProbeLink& link, const uint8_t* end) {
  uint8_t* request = link.RequestBuffer();
  return TransactCommand(link, request, static_cast<size_t>(end - request));
}

int32_t SimpleCommand(ProbeLink& link, uint8_t code) {
  return Exchange(link, PutU8(link.RequestBuffer(), code));
}

// For the commands whose reply is not examined: any reply, an empty one included, is success.
ResultCode Unchecked(int32_t result) {
  return result < 0 ? result : RESULT_OK;
}

}  // namespace

const LoaderCommandInfo* FindLoaderCommand(uint8_t code) {
  for (const LoaderCommandInfo& command : kCommands) {
    if (command.code == code) return &command;
  }
  return nullptr;
}

const char* LoaderCommandName(uint8_t code) {
  const LoaderCommandInfo* command = FindLoaderCommand(code);
  return command != nullptr ? command->name : nullptr;
}

int32_t TransactCommand(ProbeLink& link, const uint8_t* request, size_t count) {
  const LoaderCommandInfo* command = count > 0 ? FindLoaderCommand(request[0]) : nullptr;
  return link.Transact(request, count, link.ReplyBuffer(), kMaxPayload,
                       command != nullptr ? command->extraTimeoutMs : 0);
}

uint16_t CorrectFirmwareVersion(uint16_t stored) {
  uint16_t version = stored;
  if (version >= 0xC000) version = static_cast<uint16_t>(version + 0x4000);
  version = static_cast<uint16_t>(version - 0x1600);
  return version > 255 ? 0 : version;
}

uint16_t CorrectLogicVersion(uint16_t stored) {
  const uint16_t version = static_cast<uint16_t>(stored - 9000);
  return version > 999 ? 0 : version;
}

ResultCode DecodeIdentityReply(const uint8_t* reply, int32_t length, DeviceIdentity& identity) {
  if (length != 15 && length != 17) {
    identity.loaderVersion = 0;
    identity.firmwareVersion = 0;
    identity.logicVersion = 0;
    return RESULT_OK;
  }
  if (reply[0] != LDR_IDENTIFY) return LDR_E_BAD_REPLY;
  const uint8_t* at = reply + 1;
  at = GetU16(at, identity.loaderVersion);
  at = GetU16(at, identity.firmwareVersion);
  at = GetU16(at, identity.logicVersion);
  identity.serialNumber.assign(reinterpret_cast<const char*>(at), length == 17 ? 10 : 8);
  identity.firmwareVersion = CorrectFirmwareVersion(identity.firmwareVersion);
  identity.logicVersion = CorrectLogicVersion(identity.logicVersion);
  return RESULT_OK;
}

ResultCode ReadIdentity(ProbeLink& link, DeviceIdentity& identity) {
  int32_t result = SimpleCommand(link, LDR_ENTER_LOADER);
  if (result < 0) return result;
  // An empty reply came from the loader too; only a byte 'r' means the firmware answered.
  if (result >= 1 && link.ReplyBuffer()[0] == LDR_ENTER_LOADER) {
    DelayMs(link.GetClock(), kFirmwareRestartMs);
    return LDR_E_NOT_IN_LOADER;
  }
  result = SimpleCommand(link, LDR_IDENTIFY);
  if (result < 0) return result;
  return DecodeIdentityReply(link.ReplyBuffer(), result, identity);
}

namespace {

// The request of LDR_READ_MEMORY; returns its end.
uint8_t* ReadMemoryRequest(ProbeLink& link, uint32_t address, uint16_t count) {
  return PutU16(PutU32(PutU8(link.RequestBuffer(), LDR_READ_MEMORY), address), count);
}

ResultCode ReadMemoryReply(ProbeLink& link, int32_t result, uint16_t count, uint8_t* dest) {
  if (result < 0) return result;
  const uint8_t* reply = link.ReplyBuffer();
  if (result != count + 7 || reply[0] != LDR_READ_MEMORY) return LDR_E_BAD_REPLY;
  if (count > 0) std::memcpy(dest, reply + 7, count);
  return RESULT_OK;
}

// The request of LDR_PROGRAM; nullptr for one the transaction would refuse anyway, which must
// not be copied into the 1500-byte request buffer first.
uint8_t* ProgramRequest(ProbeLink& link, uint32_t address, uint16_t count, const uint8_t* data) {
  if (7u + count > kMaxRequest) return nullptr;
  uint8_t* at = PutU16(PutU32(PutU8(link.RequestBuffer(), LDR_PROGRAM), address), count);
  if (count > 0) std::memcpy(at, data, count);
  return at + count;
}

ResultCode ProgramReply(ProbeLink& link, int32_t result, uint32_t& replyValue) {
  if (result < 0) return result;
  const uint8_t* reply = link.ReplyBuffer();
  if (result != 6 || reply[0] != LDR_PROGRAM) return LDR_E_BAD_REPLY;
  GetU32(reply + 2, replyValue);
  return reply[1] != 0 ? LDR_E_PROGRAM : RESULT_OK;
}

// One attempt with a reply wait sized from the reply expected.
int32_t ExchangeOnce(ProbeLink& link, const uint8_t* end, size_t replyBytes, uint32_t busyMs) {
  uint8_t* request = link.RequestBuffer();
  return link.TransactOnce(request, static_cast<size_t>(end - request), link.ReplyBuffer(),
                           kMaxPayload, replyBytes, busyMs);
}

}  // namespace

ResultCode ReadMemory(ProbeLink& link, uint32_t address, uint16_t count, uint8_t* dest) {
  const uint8_t* end = ReadMemoryRequest(link, address, count);
  return ReadMemoryReply(link, Exchange(link, end), count, dest);
}

ResultCode ReadMemoryPiece(ProbeLink& link, uint32_t address, uint16_t count, uint8_t* dest,
                           uint32_t busyMs) {
  const uint8_t* end = ReadMemoryRequest(link, address, count);
  return ReadMemoryReply(link, ExchangeOnce(link, end, count + 7u, busyMs), count, dest);
}

ResultCode EraseSector(ProbeLink& link, uint32_t address) {
  uint8_t* at = PutU8(link.RequestBuffer(), LDR_ERASE_SECTOR);
  at = PutU32(at, address);
  const int32_t result = Exchange(link, at);
  if (result < 0) return result;
  const uint8_t* reply = link.ReplyBuffer();
  if (result != 2 || reply[0] != LDR_ERASE_SECTOR) return LDR_E_BAD_REPLY;
  return reply[1] != 0 ? LDR_E_ERASE : RESULT_OK;
}

ResultCode ProgramMemory(ProbeLink& link, uint32_t address, uint16_t count, const uint8_t* data,
                         uint32_t& replyValue) {
  const uint8_t* end = ProgramRequest(link, address, count, data);
  if (end == nullptr) return SESSION_E_TOO_LONG;
  return ProgramReply(link, Exchange(link, end), replyValue);
}

ResultCode ProgramMemoryPiece(ProbeLink& link, uint32_t address, uint16_t count,
                              const uint8_t* data, uint32_t busyMs) {
  const uint8_t* end = ProgramRequest(link, address, count, data);
  if (end == nullptr) return SESSION_E_TOO_LONG;
  uint32_t replyValue = 0;
  return ProgramReply(link, ExchangeOnce(link, end, 6, busyMs), replyValue);
}

ResultCode EnterLogicAccess(ProbeLink& link) {
  uint8_t* at = PutU8(PutU8(link.RequestBuffer(), LDR_LOGIC_ACCESS), 1);
  return Unchecked(Exchange(link, at));
}

ResultCode LeaveLogicAccess(ProbeLink& link) {
  uint8_t* at = PutU8(PutU8(link.RequestBuffer(), LDR_LOGIC_ACCESS), 0);
  return Unchecked(Exchange(link, at));
}

ResultCode ReadLogicDeviceType(ProbeLink& link, uint8_t& deviceType) {
  const int32_t result = SimpleCommand(link, LDR_LOGIC_DEVICE_TYPE);
  if (result < 0) return result;
  // A shorter reply has no type byte; what the buffer holds there is left from an older reply.
  if (result < 2) return LDR_E_BAD_REPLY;
  deviceType = link.ReplyBuffer()[1];
  return RESULT_OK;
}

ResultCode EraseLogic(ProbeLink& link) {
  return Unchecked(SimpleCommand(link, LDR_LOGIC_ERASE));
}

ResultCode ProgramLogicRow(ProbeLink& link, uint8_t row, const std::string& rowText) {
  // A short text would send bytes from beyond its end as fuses; nothing is sent then.
  if (rowText.size() < static_cast<size_t>(kFusesPerRow)) return LDR_E_PROGRAM;
  uint8_t* at = PutU8(PutU8(link.RequestBuffer(), LDR_LOGIC_PROGRAM_ROW), row);
  std::memcpy(at, rowText.data(), kFusesPerRow);
  return Unchecked(Exchange(link, at + kFusesPerRow));
}

ResultCode ProgramLogicUes(ProbeLink& link, const std::string& uesText) {
  if (uesText.size() < static_cast<size_t>(kUesBits)) return LDR_E_PROGRAM;
  uint8_t* at = PutU8(link.RequestBuffer(), LDR_LOGIC_PROGRAM_UES);
  std::memcpy(at, uesText.data(), kUesBits);
  return Unchecked(Exchange(link, at + kUesBits));
}

ResultCode ReadLogicRow(ProbeLink& link, uint8_t row, std::string& programmed,
                        std::string& erased) {
  uint8_t* at = PutU8(PutU8(link.RequestBuffer(), LDR_LOGIC_READ_ROW), row);
  const int32_t result = Exchange(link, at);
  if (result < 0) return result;
  if (result != 1 + 2 * kFusesPerRow) return LDR_E_BAD_REPLY;
  const char* reply = reinterpret_cast<const char*>(link.ReplyBuffer());
  programmed.assign(reply + 1, kFusesPerRow);
  erased.assign(reply + 1 + kFusesPerRow, kFusesPerRow);
  return RESULT_OK;
}

ResultCode ReadLogicUes(ProbeLink& link, std::string& uesText) {
  const int32_t result = SimpleCommand(link, LDR_LOGIC_READ_UES);
  if (result < 0) return result;
  if (result != 1 + kUesBits) return LDR_E_BAD_REPLY;
  uesText.assign(reinterpret_cast<const char*>(link.ReplyBuffer()) + 1, kUesBits);
  return RESULT_OK;
}

ResultCode StartFirmware(ProbeLink& link) {
  return Unchecked(SimpleCommand(link, LDR_START_FIRMWARE));
}

ResultCode EraseAllSectors(ProbeLink& link) {
  for (const uint32_t sector : kAllSectors) {
    const ResultCode result = EraseSector(link, sector);
    if (result != RESULT_OK) return result;
  }
  return RESULT_OK;
}

}  // namespace vanta
