#include "sim/flash_model.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace vanta::sim {

FlashModel::FlashModel() : data_(kSize, 0xFF) {}

bool FlashModel::InFlash(uint32_t address, uint32_t count) {
  return vanta::InsideFlash(address, count);
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
    for (const FlashSector& s : vanta::kFlashSectors) {
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
