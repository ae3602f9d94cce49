#pragma once
// The probe's 1 MiB NOR flash: erased bytes read 0xFF, programming can only clear bits, and the
// loader's own sector refuses erase and program.
#include <cstdint>
#include <string>
#include <vector>

#include "link/flash_map.h"

namespace vanta::sim {

using vanta::FlashSector;

class FlashModel {
 public:
  static constexpr uint32_t kBase = vanta::kFlashBase;
  static constexpr uint32_t kSize = vanta::kFlashSize;

  FlashModel();  // all erased

  // The sector holding address, or nullptr outside the flash.
  static const FlashSector* SectorAt(uint32_t address) { return vanta::SectorOf(address); }
  // True when [address, address + count) lies inside the flash (count 0 included).
  static bool InFlash(uint32_t address, uint32_t count);

  // Erases the sector that holds address. false (nothing changed) outside the flash or in a
  // protected sector.
  bool EraseSector(uint32_t address);
  // ANDs bytes into the flash from address on. false (nothing changed) when any byte would fall
  // outside the flash or into a protected sector, unless force is set (test set-up only).
  bool Program(uint32_t address, const uint8_t* bytes, size_t count, bool force = false);
  // Bytes from address on; positions outside the flash read 0xFF.
  std::vector<uint8_t> Read(uint32_t address, uint32_t count) const;
  const uint8_t* Data() const { return data_.data(); }

  // The flash image file: exactly 1 MiB. Load: false when missing or of another size (the flash
  // is left as it was). Save: written to a temporary file and renamed, so a crash never leaves a
  // half image behind.
  bool LoadImage(const std::string& path);
  bool SaveImage(const std::string& path) const;

 private:
  std::vector<uint8_t> data_;
};

}  // namespace vanta::sim
