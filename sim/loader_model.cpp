#include "sim/loader_model.h"

#include <algorithm>

#include "link/loader.h"
#include "link/packing.h"

namespace vanta::sim {
namespace {

constexpr size_t kMaxReplyBody = 1498;  // a reply payload behind its header
constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusFailed = 1;
constexpr uint8_t kStatusMalformed = 2;

}  // namespace

LoaderModel::LoaderModel(LoaderIdentity identity, FaultKnobs& faults)
    : identity_(std::move(identity)), faults_(faults) {}

void LoaderModel::Restart() {
  firmwareMode_ = false;
  logicAccess_ = false;
}

uint16_t LoaderModel::StoredFirmwareVersion() const {
  const std::vector<uint8_t> head = flash_.Read(FIRMWARE_SECTOR, 6);
  if (!std::equal(std::begin(kFirmwareMarker), std::end(kFirmwareMarker), head.begin())) return 0;
  uint16_t version = 0;
  GetU16(head.data() + 4, version);
  return version;
}

std::vector<uint8_t> LoaderModel::IdentifyReply() const {
  const size_t serialLength = identity_.serialNumber.size() >= 10 ? 10 : 8;
  std::vector<uint8_t> reply(7 + serialLength, ' ');
  uint8_t* at = PutU8(reply.data(), LDR_IDENTIFY);
  at = PutU16(at, identity_.loaderVersion);
  at = PutU16(at, StoredFirmwareVersion());
  at = PutU16(at, StoredLogicVersion());
  for (size_t i = 0; i < serialLength && i < identity_.serialNumber.size(); ++i) {
    at[i] = static_cast<uint8_t>(identity_.serialNumber[i]);
  }
  return reply;
}

LoaderReply LoaderModel::Handle(const uint8_t* request, size_t count) {
  if (count == 0) return LoaderReply{{}, false};
  const uint8_t code = request[0];
  LoaderReply reply;
  if (firmwareMode_) {
    // The running firmware knows one loader command: the request to go back to the loader.
    if (code == LDR_ENTER_LOADER) {
      reply.bytes = {LDR_ENTER_LOADER};
      reply.restartLoader = true;
    } else if (code == LDR_START_FIRMWARE) {
      reply.bytes = {LDR_START_FIRMWARE};
    } else {
      reply.bytes = {'?', code};
    }
  } else {
    reply = HandleInLoader(request, count);
  }

  if (faults_.wrongLengthCommand.load() == code) {
    const int32_t delta = faults_.wrongLengthDelta.load();
    const int64_t length = std::max<int64_t>(0, static_cast<int64_t>(reply.bytes.size()) + delta);
    reply.bytes.resize(static_cast<size_t>(std::min<int64_t>(length, kMaxReplyBody)), 0);
  }
  if (faults_.wrongEchoCommand.load() == code && !reply.bytes.empty()) {
    reply.bytes[0] ^= 0x20;  // 'd' becomes 'D': still a letter, no longer the echo
  }
  return reply;
}

LoaderReply LoaderModel::HandleInLoader(const uint8_t* request, size_t count) {
  const uint8_t code = request[0];
  LoaderReply reply;
  switch (code) {
    case LDR_IDENTIFY:
      reply.bytes = IdentifyReply();
      break;
    case LDR_READ_MEMORY:
      return ReadMemory(request, count);
    case LDR_ERASE_SECTOR:
      return EraseSector(request, count);
    case LDR_PROGRAM:
      return Program(request, count);
    case LDR_LOGIC_ACCESS:
    case LDR_LOGIC_DEVICE_TYPE:
    case LDR_LOGIC_READ_ROW:
    case LDR_LOGIC_PROGRAM_ROW:
    case LDR_LOGIC_READ_UES:
    case LDR_LOGIC_PROGRAM_UES:
    case LDR_LOGIC_ERASE:
      return LogicCommand(code, request, count);
    case LDR_START_FIRMWARE:
      reply.bytes = {LDR_START_FIRMWARE};
      firmwareMode_ = true;
      logicAccess_ = false;
      break;
    case LDR_ENTER_LOADER:
      // Already in the loader: anything but 'r'.
      reply.bytes = {'R', kStatusOk};
      break;
    default:
      reply.bytes = {'?', code};
      break;
  }
  return reply;
}

LoaderReply LoaderModel::ReadMemory(const uint8_t* request, size_t count) {
  // 'e', status, address (4), reserved, then the data.
  LoaderReply reply;
  uint32_t address = 0;
  uint16_t length = 0;
  uint8_t status = kStatusOk;
  if (count != 7) {
    status = kStatusMalformed;
  } else {
    GetU16(GetU32(request + 1, address), length);
    if (length + 7u > kMaxReplyBody) {
      status = kStatusMalformed;
    } else if (!FlashModel::InFlash(address, length)) {
      status = kStatusFailed;
    }
  }
  reply.bytes.assign(7, 0);
  uint8_t* at = PutU8(reply.bytes.data(), LDR_READ_MEMORY);
  at = PutU8(at, status);
  PutU32(at, address);
  if (status == kStatusOk) {
    const std::vector<uint8_t> data = flash_.Read(address, length);
    reply.bytes.insert(reply.bytes.end(), data.begin(), data.end());
  }
  return reply;
}

LoaderReply LoaderModel::EraseSector(const uint8_t* request, size_t count) {
  LoaderReply reply;
  uint8_t status = kStatusMalformed;
  if (count == 5) {
    uint32_t address = 0;
    GetU32(request + 1, address);
    const FlashSector* sector = FlashModel::SectorAt(address);
    const int64_t failing = faults_.failEraseSector.load();
    if (sector != nullptr && failing >= 0 && sector->address == static_cast<uint64_t>(failing)) {
      status = kStatusFailed;
    } else {
      const uint32_t busyMs =
          sector != nullptr && int64_t{sector->address} >= faults_.eraseBusyFromSector.load()
              ? faults_.eraseSectorBusyMs.load()
              : 0;
      if (sector != nullptr && !sector->isProtected && busyMs > 0) {
        status = kStatusOk;
        reply.busyMs = busyMs;
        reply.eraseWhenDone = sector->address;
      } else {
        status = flash_.EraseSector(address) ? kStatusOk : kStatusFailed;
      }
    }
  }
  reply.bytes = {LDR_ERASE_SECTOR, status};
  return reply;
}

LoaderReply LoaderModel::Program(const uint8_t* request, size_t count) {
  // 'h', status, then the address behind the last byte written (big-endian).
  LoaderReply reply;
  const uint32_t index = programRequests_++;
  uint32_t address = 0;
  uint16_t length = 0;
  uint8_t status = kStatusMalformed;
  if (count >= 7) {
    GetU16(GetU32(request + 1, address), length);
    if (count == 7u + length) status = kStatusOk;
  }
  if (status == kStatusOk) {
    const int64_t failingSector = faults_.failProgramSector.load();
    bool hitsFailingSector = false;
    if (failingSector >= 0 && length > 0) {
      const FlashSector* first = FlashModel::SectorAt(address);
      const FlashSector* last = FlashModel::SectorAt(address + length - 1);
      for (const FlashSector* s : {first, last}) {
        if (s != nullptr && s->address == static_cast<uint64_t>(failingSector)) {
          hitsFailingSector = true;
        }
      }
    }
    const int32_t failingWrite = faults_.failProgramAfterWrites.load();
    if (hitsFailingSector || (failingWrite >= 0 && index == static_cast<uint32_t>(failingWrite))) {
      status = kStatusFailed;
    } else {
      std::vector<uint8_t> data(request + 7, request + 7 + length);
      const int32_t corruptWrite = faults_.corruptProgramWrite.load();
      if (corruptWrite >= 0 && index == static_cast<uint32_t>(corruptWrite)) {
        // One bit that should stay 1 reads 0: the lowest set bit of the first non-zero byte.
        for (uint8_t& b : data) {
          if (b != 0) {
            b &= static_cast<uint8_t>(b - 1);
            break;
          }
        }
      }
      status = flash_.Program(address, data.data(), data.size()) ? kStatusOk : kStatusFailed;
      if (status == kStatusOk) reply.busyMs = faults_.programBusyMs.load();
    }
  }
  reply.bytes.assign(6, 0);
  PutU32(PutU8(PutU8(reply.bytes.data(), LDR_PROGRAM), status), address + length);
  return reply;
}

LoaderReply LoaderModel::LogicCommand(uint8_t code, const uint8_t* request, size_t count) {
  LoaderReply reply;
  switch (code) {
    case LDR_LOGIC_ACCESS: {
      const bool valid = count == 2 && request[1] <= 1;
      if (valid) logicAccess_ = request[1] == 1;
      reply.bytes = {LDR_LOGIC_ACCESS, valid ? kStatusOk : kStatusMalformed};
      break;
    }
    case LDR_LOGIC_DEVICE_TYPE:
      reply.bytes = {LDR_LOGIC_DEVICE_TYPE, identity_.logicDeviceType};
      break;
    case LDR_LOGIC_READ_ROW: {
      // Status, then the programmed-state and the erased-state reading of the row.
      if (count != 2) {
        reply.bytes = {LDR_LOGIC_READ_ROW, kStatusMalformed};
        break;
      }
      const int row = request[1];
      reply.bytes.assign(1 + 2 * LogicModel::kFuses, '0');
      if (row >= LogicModel::kRows) {
        reply.bytes[0] = kStatusFailed;
        break;
      }
      reply.bytes[0] = kStatusOk;
      const std::string& fuses = logic_.Row(row);
      std::copy(fuses.begin(), fuses.end(), reply.bytes.begin() + 1);
      std::copy(fuses.begin(), fuses.end(), reply.bytes.begin() + 1 + LogicModel::kFuses);
      break;
    }
    case LDR_LOGIC_PROGRAM_ROW: {
      if (count != 2 + LogicModel::kFuses) {
        reply.bytes = {LDR_LOGIC_PROGRAM_ROW, kStatusMalformed};
        break;
      }
      if (faults_.failLogicRow.load() == request[1]) {
        reply.send = false;
        break;
      }
      const bool ok = logic_.ProgramRow(request[1], request + 2);
      reply.bytes = {LDR_LOGIC_PROGRAM_ROW, ok ? kStatusOk : kStatusFailed};
      reply.busyMs = faults_.logicRowBusyMs.load();
      break;
    }
    case LDR_LOGIC_READ_UES:
      reply.bytes.assign(1, kStatusOk);
      reply.bytes.insert(reply.bytes.end(), logic_.Ues().begin(), logic_.Ues().end());
      break;
    case LDR_LOGIC_PROGRAM_UES: {
      const bool ok = count == 1 + LogicModel::kUesBits && logic_.ProgramUes(request + 1);
      reply.bytes = {LDR_LOGIC_PROGRAM_UES, ok ? kStatusOk : kStatusFailed};
      break;
    }
    case LDR_LOGIC_ERASE:
      logic_.Erase();
      reply.bytes = {LDR_LOGIC_ERASE, kStatusOk};
      reply.busyMs = faults_.logicEraseBusyMs.load();
      break;
    default:
      break;
  }
  return reply;
}

}  // namespace vanta::sim
