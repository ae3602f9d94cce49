#include "tests/support/image_gen.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace vanta::test {

namespace {

// xorshift32: the same bytes for the same seed on every run.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  uint32_t state_;
};

int AddressSize(int type) {
  switch (type) {
    case 2:
    case 6:
    case 8:
      return 3;
    case 3:
    case 7:
      return 4;
    default:
      return 2;
  }
}

std::string Hex(unsigned value, int digits, bool lowerCase) {
  char text[16];
  std::snprintf(text, sizeof text, lowerCase ? "%0*x" : "%0*X", digits, value);
  return text;
}

}  // namespace

std::string SRecordLine(int type, uint32_t address, const std::vector<uint8_t>& bytes,
                        bool lowerCase) {
  const int addressSize = AddressSize(type);
  const unsigned count = static_cast<unsigned>(addressSize + bytes.size() + 1);
  std::string line = lowerCase ? "s" : "S";
  line += static_cast<char>('0' + type);
  line += Hex(count & 0xFF, 2, lowerCase);
  unsigned sum = count;
  for (int i = addressSize - 1; i >= 0; --i) {
    const unsigned byte = (address >> (8 * i)) & 0xFF;
    line += Hex(byte, 2, lowerCase);
    sum += byte;
  }
  for (uint8_t byte : bytes) {
    line += Hex(byte, 2, lowerCase);
    sum += byte;
  }
  line += Hex(~sum & 0xFF, 2, lowerCase);
  return line;
}

std::string SRecordFile(const std::vector<SRecordData>& records, const SRecordStyle& style) {
  const std::string end = style.crlf ? "\r\n" : "\n";
  std::string text;
  if (style.header) {
    const std::string name = "vanta7 test image";
    text +=
        SRecordLine(0, 0, std::vector<uint8_t>(name.begin(), name.end()), style.lowerCase) + end;
  }
  uint32_t entry = records.empty() ? 0 : records.front().address;
  for (const SRecordData& record : records) {
    text += SRecordLine(style.type, record.address, record.bytes, style.lowerCase) + end;
  }
  if (style.endRecord) {
    const int endType = style.type == 1 ? 9 : style.type == 2 ? 8 : 7;
    text += SRecordLine(endType, entry, {}, style.lowerCase) + end;
  }
  return text;
}

FirmwareImage MakeFirmwareImage(const FirmwareParams& params) {
  FirmwareImage image;
  image.address = params.address;
  image.bytes.resize(params.size);
  Noise noise(params.seed);
  for (uint32_t i = 0; i < params.size; ++i) {
    const uint8_t byte = static_cast<uint8_t>(noise.Next() >> 24);
    const bool gap = params.gapFill != 0 && (i / params.gapFill) % 2 == 1;
    image.bytes[i] = gap ? 0xFF : byte;
  }
  for (size_t i = 0; i < 4 && i < image.bytes.size(); ++i) image.bytes[i] = 0xFF;
  if (image.bytes.size() > 5) {
    image.bytes[4] = 0x16;
    image.bytes[5] = params.version;
  }

  const uint64_t end = uint64_t{params.address} + params.size;
  const uint64_t limit = uint64_t{1} << (8 * AddressSize(params.style.type));
  if (end > limit || params.recordLength < 1 || params.recordLength > 250) return image;

  for (uint32_t offset = 0; offset < params.size; offset += params.recordLength) {
    const uint32_t n = std::min<uint32_t>(params.recordLength, params.size - offset);
    image.records.push_back(
        {params.address + offset,
         std::vector<uint8_t>(image.bytes.begin() + offset, image.bytes.begin() + offset + n)});
  }
  image.text = SRecordFile(image.records, params.style);
  return image;
}

std::vector<uint8_t> ExpectedFlash(const FirmwareImage& image) {
  static constexpr uint8_t kMarker[4] = {0xAA, 0x55, 0x55, 0xAA};
  std::vector<uint8_t> bytes = image.bytes;
  for (uint32_t i = 0; i < 4; ++i) {
    const uint64_t at = uint64_t{kImageFirmwareSector} + i;
    if (at >= image.address && at < image.address + uint64_t{bytes.size()}) {
      bytes[at - image.address] &= kMarker[i];
    }
  }
  return bytes;
}

JedecImage MakeJedecImage(const JedecParams& params) {
  constexpr int kRows = 134;
  constexpr int kFuses = 240;
  JedecImage image;
  Noise noise(params.seed);
  for (int r = 0; r < kRows; ++r) {
    std::string row(kFuses, '0');
    for (int f = 0; f < kFuses; ++f) {
      bool one = false;
      switch (params.pattern) {
        case FusePattern::Random:
          one = (noise.Next() >> 16) & 1;
          break;
        case FusePattern::AllZero:
          one = false;
          break;
        case FusePattern::AllOne:
          one = true;
          break;
        case FusePattern::Checker:
          one = (r + f) % 2 == 1;
          break;
      }
      row[f] = one ? '1' : '0';
    }
    image.rows.push_back(row);
  }

  const std::string end = params.crlf ? "\r\n" : "\n";
  std::string text = "\x02";
  text += "JEDEC file for: ispLSI 2064 (vanta7 test image)" + end;
  text += "*" + end;
  text += "QP44*" + end;
  text += "QF" + std::to_string(kRows * kFuses) + "*" + end;
  text += "QV0*" + end;
  text += "F0*" + end;
  text += "G0*" + end;
  text += "N VERSION " + std::to_string(params.version) + "*" + end;
  text += "*L00000" + end;

  std::string fuses;
  for (const std::string& row : image.rows) fuses += row;
  const size_t width = params.lineWidth > 0 ? static_cast<size_t>(params.lineWidth) : fuses.size();
  for (size_t at = 0; at < fuses.size(); at += width) {
    text += fuses.substr(at, width);
    if (at + width >= fuses.size()) text += "*";
    text += end;
  }

  // Fuse checksum: the 16-bit sum of the fuses taken eight at a time, fuse 0 the lowest bit.
  unsigned checksum = 0;
  for (size_t at = 0; at < fuses.size(); at += 8) {
    unsigned byte = 0;
    for (size_t bit = 0; bit < 8 && at + bit < fuses.size(); ++bit) {
      if (fuses[at + bit] == '1') byte |= 1u << bit;
    }
    checksum = (checksum + byte) & 0xFFFF;
  }
  // Appended piece by piece: "C" + Hex(...) makes GCC 12 at -O3 warn of an overlapping memcpy.
  text += 'C';
  text += Hex(checksum, 4, false);
  text += '*';
  text += end;
  text += "\x03";
  unsigned transmission = 0;
  for (unsigned char c : text) transmission = (transmission + c) & 0xFFFF;
  text += Hex(transmission, 4, false) + end;
  image.text = text;
  return image;
}

std::string ImageFileName(const std::string& base, unsigned version) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03u", version % 1000);
  return base + "." + digits;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

ImageTempDir::ImageTempDir() {
  // A fresh name of its own (create_directory fails on one that exists), on any system.
  std::random_device random;
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path dir = base / ("vanta-images-" + std::to_string(random()));
    if (std::filesystem::create_directory(dir, error)) path_ = dir.string() + "/";
  }
}

ImageTempDir::~ImageTempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace vanta::test
