#include "sim/flash_model.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace vanta::sim {

FlashModel::FlashModel() : data_(kSize, 0xFF) {}

const std::vector<FlashSector>& FlashModel::Sectors() {
  static const std::vector<FlashSector> sectors = {
      {0x01000000, 0x8000, true},   {0x01008000, 0x4000, false},  {0x0100C000, 0x4000, false},
      {0x01010000, 0x30000, false}, {0x01040000, 0x40000, false}, {0x01080000, 0x40000, false},
      {0x010C0000, 0x40000, false},
  };
  return sectors;
}

const FlashSector* FlashModel::SectorAt(uint32_t address) {
  for (const FlashSector& s : Sectors()) {
    if (address >= s.address && address - s.address < s.size) return &s;
  }
  return nullptr;
}

bool FlashModel::InFlash(uint32_t address, uint32_t count) {
  // 64-bit sums: an address near the top of the 32-bit range must not wrap into the flash.
  const uint64_t start = address;
  return start >= kBase && start + count <= static_cast<uint64_t>(kBase) + kSize;
}

bool FlashModel::EraseSector(uint32_t address) {
  const FlashSector* sector = SectorAt(address);
  if (sector == nullptr || sector->isProtected) return false;
  std::fill_n(data_.begin() + (sector->address - kBase), sector->size, 0xFF);
  return true;
}

bool FlashModel::Program(uint32_t address, const uint8_t* bytes, size_t count, bool force) {
  if (!InFlash(address, static_cast<uint32_t>(count)) || count > kSize) return false;
  if (!force) {
    for (const FlashSector& s : Sectors()) {
      const bool overlaps = static_cast<uint64_t>(address) < s.address + s.size &&
                            s.address < static_cast<uint64_t>(address) + count;
      if (s.isProtected && overlaps) return false;
    }
  }
  uint8_t* at = data_.data() + (address - kBase);
  for (size_t i = 0; i < count; ++i) at[i] &= bytes[i];
  return true;
}

std::vector<uint8_t> FlashModel::Read(uint32_t address, uint32_t count) const {
  std::vector<uint8_t> out(count, 0xFF);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t a = static_cast<uint64_t>(address) + i;
    if (a >= kBase && a < static_cast<uint64_t>(kBase) + kSize) out[i] = data_[a - kBase];
  }
  return out;
}

bool FlashModel::LoadImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (image.size() != kSize) return false;
  data_ = std::move(image);
  return true;
}

bool FlashModel::SaveImage(const std::string& path) const {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(kSize));
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace vanta::sim
