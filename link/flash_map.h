#pragma once
// The probe's 1 MiB NOR flash as its loader lays it out: the sectors, the addresses the tool
// writes or erases, and the firmware's validity marker. The tool's writers and readers and the
// virtual probe all take the layout from here, so a sector cannot be named differently in two
// places.
#include <cstddef>
#include <cstdint>

namespace vanta {

inline constexpr uint32_t kFlashBase = 0x01000000;
inline constexpr uint32_t kFlashSize = 0x00100000;
inline constexpr uint64_t kFlashEnd = uint64_t{kFlashBase} + kFlashSize;

struct FlashSector {
  uint32_t address;
  uint32_t size;
  bool isProtected;  // the loader's own sector: the probe refuses to erase or program it
};

// Every sector, ascending, without gaps from kFlashBase to the end of the flash.
inline constexpr FlashSector kFlashSectors[] = {
    {0x01000000, 0x8000, true},   {0x01008000, 0x4000, false},  {0x0100C000, 0x4000, false},
    {0x01010000, 0x30000, false}, {0x01040000, 0x40000, false}, {0x01080000, 0x40000, false},
    {0x010C0000, 0x40000, false},
};

// The loader's sector: never written or erased by the tool.
inline constexpr uint32_t LOADER_SECTOR = 0x01000000;
inline constexpr uint32_t kLoaderSectorEnd = 0x01008000;
// Addresses the tool writes or erases.
inline constexpr uint32_t SETUP_SECTOR = 0x01008000;
inline constexpr uint32_t FIRMWARE_SECTOR = 0x01040000;
inline constexpr uint32_t CONFIG_SECTOR = 0x010C0000;
inline constexpr uint32_t REGISTER_IMAGE_AREA = 0x010D0000;  // no erase of its own: CONFIG_SECTOR's
// Sectors EraseAllSectors erases, in this order: every one but the loader's.
inline constexpr uint32_t kAllSectors[6] = {0x01008000, 0x0100C000, 0x01010000,
                                            0x01040000, 0x01080000, 0x010C0000};
// Sectors a firmware update erases (the configuration sector with them).
inline constexpr uint32_t kFirmwareSectors[3] = {0x01040000, 0x01080000, 0x010C0000};
// Written last over the first four bytes of FIRMWARE_SECTOR: the loader starts only a firmware
// that carries it, so a write that stops half-way leaves no image that looks valid.
inline constexpr uint8_t kFirmwareMarker[4] = {0xAA, 0x55, 0x55, 0xAA};

// The sector that holds address, or nullptr outside the flash.
constexpr const FlashSector* SectorOf(uint32_t address) {
  for (const FlashSector& sector : kFlashSectors) {
    if (address >= sector.address && address - sector.address < sector.size) return &sector;
  }
  return nullptr;
}

// The end (one past the last byte) of the sector that starts at or holds address; 0 outside.
constexpr uint32_t SectorEnd(uint32_t address) {
  const FlashSector* sector = SectorOf(address);
  return sector == nullptr ? 0 : sector->address + sector->size;
}

// True when [address, address + count) lies inside the flash (count 0 included); 64-bit sums, so
// an address near the top of the 32-bit range cannot wrap into it.
constexpr bool InsideFlash(uint32_t address, uint64_t count) {
  return address >= kFlashBase && uint64_t{address} + count <= kFlashEnd;
}

}  // namespace vanta
