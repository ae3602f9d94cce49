#include "tests/support/fake_loader.h"

#include <cstdio>

#include "link/loader.h"

namespace vanta::test {

namespace {

uint32_t U32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

uint16_t U16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

}  // namespace

std::string UesBitsOf(const std::string& text) {
  std::string bits;
  for (size_t p = 0; p < 15; ++p) {
    const unsigned code = p < text.size() ? static_cast<unsigned char>(text[p]) : 0u;
    for (int bit = 7; bit >= 0; --bit) bits.push_back((code >> bit) & 1u ? '1' : '0');
  }
  return bits;
}

FakeLoader::FakeLoader()
    : flash(kFlashSize, 0xFF), rows(134, std::string(240, '1')), ues(120, '1') {
  auto port = std::make_unique<FakePort>(clock_);
  port_ = port.get();
  probe_ = std::make_unique<FakeProbe>(*port_, clock_, 115200);
  probe_->loader = [this](const Bytes& request) { return Answer(request); };
  link_ = std::make_unique<ProbeLink>(std::move(port), clock_);
  link_->OpenLink("fake", 115200);
}

bool FakeLoader::InFlash(uint64_t address, uint64_t count) const {
  return address >= kFlashBase && address + count <= uint64_t{kFlashBase} + kFlashSize;
}

std::vector<uint8_t> FakeLoader::Flash(uint32_t address, uint32_t count) const {
  if (!InFlash(address, count)) return {};
  const auto begin = flash.begin() + (address - kFlashBase);
  return std::vector<uint8_t>(begin, begin + count);
}

void FakeLoader::InstallFirmwareVersion(uint8_t version) {
  const uint8_t image[6] = {0xAA, 0x55, 0x55, 0xAA, 0x16, version};
  for (int i = 0; i < 6; ++i) flash[FIRMWARE_SECTOR - kFlashBase + i] = image[i];
}

void FakeLoader::InstallLogicVersion(uint16_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "B6001E9%03u", version % 1000u);
  ues = UesBitsOf(text);
}

std::vector<uint8_t> FakeLoader::Codes() const {
  std::vector<uint8_t> codes;
  for (const Bytes& request : requests) codes.push_back(request.empty() ? 0 : request[0]);
  return codes;
}

std::vector<Bytes> FakeLoader::Requests(uint8_t code) const {
  std::vector<Bytes> found;
  for (const Bytes& request : requests) {
    if (!request.empty() && request[0] == code) found.push_back(request);
  }
  return found;
}

std::optional<Bytes> FakeLoader::Answer(const Bytes& request) {
  const int index = static_cast<int>(requests.size());
  requests.push_back(request);
  std::optional<Bytes> scripted;
  if (script && script(request, index, scripted)) return scripted;
  if (request.empty()) return Bytes{};

  const uint8_t code = request[0];
  switch (code) {
    case LDR_ENTER_LOADER:
      return Bytes{0x00};
    case LDR_IDENTIFY: {
      uint16_t firmware = 0;
      const std::vector<uint8_t> head = Flash(FIRMWARE_SECTOR, 6);
      if (head[0] == 0xAA && head[1] == 0x55 && head[2] == 0x55 && head[3] == 0xAA) {
        firmware = static_cast<uint16_t>((head[4] << 8) | head[5]);
      }
      uint16_t logic = 0;
      std::string text;
      for (size_t i = 0; i + 8 <= ues.size(); i += 8) {
        const char c = static_cast<char>(std::stoi(ues.substr(i, 8), nullptr, 2));
        if (c == 0) break;
        text += c;
      }
      if (text.size() == 10 && text.compare(0, 7, "B6001E9") == 0) {
        logic = static_cast<uint16_t>(9000 + std::stoi(text.substr(7)));
      }
      Bytes reply = {LDR_IDENTIFY,
                     static_cast<uint8_t>(loaderVersion >> 8),
                     static_cast<uint8_t>(loaderVersion),
                     static_cast<uint8_t>(firmware >> 8),
                     static_cast<uint8_t>(firmware),
                     static_cast<uint8_t>(logic >> 8),
                     static_cast<uint8_t>(logic)};
      reply.insert(reply.end(), serialNumber.begin(), serialNumber.end());
      return reply;
    }
    case LDR_READ_MEMORY: {
      const uint32_t address = U32(request, 1);
      const uint16_t count = U16(request, 5);
      Bytes reply(request.begin(), request.begin() + 7);
      reply[0] = LDR_READ_MEMORY;
      const std::vector<uint8_t> bytes =
          InFlash(address, count) ? Flash(address, count) : std::vector<uint8_t>(count, 0);
      reply.insert(reply.end(), bytes.begin(), bytes.end());
      return reply;
    }
    case LDR_ERASE_SECTOR: {
      const uint32_t sector = U32(request, 1);
      if (static_cast<int64_t>(sector) == failEraseSector || !InFlash(sector, 1)) {
        return Bytes{LDR_ERASE_SECTOR, 1};
      }
      const uint32_t size = sector < 0x01010000 ? 0x4000 : sector < 0x01040000 ? 0x30000 : 0x40000;
      for (uint32_t i = 0; i < size && InFlash(sector + uint64_t{i}, 1); ++i) {
        flash[sector - kFlashBase + i] = 0xFF;
      }
      return Bytes{LDR_ERASE_SECTOR, 0};
    }
    case LDR_PROGRAM: {
      const uint32_t address = U32(request, 1);
      const uint16_t count = U16(request, 5);
      const bool fail =
          programs_++ == failProgramAt || !InFlash(address, count) || request.size() != 7u + count;
      if (!fail) {
        for (uint16_t i = 0; i < count; ++i) flash[address - kFlashBase + i] &= request[7 + i];
      }
      return Bytes{LDR_PROGRAM, static_cast<uint8_t>(fail ? 1 : 0), 0, 0, 0, 0};
    }
    case LDR_LOGIC_ACCESS:
      inLogicAccess = request.size() > 1 && request[1] == 1;
      return Bytes{LDR_LOGIC_ACCESS};
    case LDR_LOGIC_DEVICE_TYPE:
      return Bytes{LDR_LOGIC_DEVICE_TYPE, deviceType};
    case LDR_LOGIC_ERASE:
      for (std::string& row : rows) row.assign(240, '1');
      ues.assign(120, '1');
      return Bytes{LDR_LOGIC_ERASE};
    case LDR_LOGIC_PROGRAM_ROW:
      if (request.size() == 242 && request[1] < rows.size()) {
        for (size_t i = 0; i < 240; ++i) {
          if (request[2 + i] == '0') rows[request[1]][i] = '0';
        }
      }
      return Bytes{LDR_LOGIC_PROGRAM_ROW};
    case LDR_LOGIC_PROGRAM_UES:
      for (size_t i = 0; i < 120 && 1 + i < request.size(); ++i) {
        if (request[1 + i] == '0') ues[i] = '0';
      }
      return Bytes{LDR_LOGIC_PROGRAM_UES};
    case LDR_LOGIC_READ_ROW: {
      Bytes reply = {LDR_LOGIC_READ_ROW};
      const std::string& row =
          rows[request.size() > 1 && request[1] < rows.size() ? request[1] : 0];
      reply.insert(reply.end(), row.begin(), row.end());
      reply.insert(reply.end(), row.begin(), row.end());
      return reply;
    }
    case LDR_LOGIC_READ_UES: {
      Bytes reply = {LDR_LOGIC_READ_UES};
      reply.insert(reply.end(), ues.begin(), ues.end());
      return reply;
    }
    default:
      return Bytes{code};
  }
}

}  // namespace vanta::test
