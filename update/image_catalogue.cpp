#include "update/image_catalogue.h"

#include <algorithm>

#include "platform/files.h"

namespace vanta {

namespace {

bool ValidVersion(ImageVersion version) {
  return version != 0 && version <= 255;
}

// The three digits of a version 1..255 (callers check the range).
std::string Digits(ImageVersion version) {
  std::string digits(3, '0');
  digits[0] = static_cast<char>('0' + version / 100);
  digits[1] = static_cast<char>('0' + (version % 100) / 10);
  digits[2] = static_cast<char>('0' + version % 10);
  return digits;
}

}  // namespace

ImageVersion VersionFromExtension(const std::string& extension) {
  if (extension.size() != 4) return 0;
  ImageVersion value = 0;
  // The first character is the dot; it is not looked at.
  for (size_t i = 1; i < 4; ++i) {
    const char c = extension[i];
    if (c < '0' || c > '9') return 0;
    value = static_cast<ImageVersion>(value * 10 + (c - '0'));
  }
  return value;
}

ImageVersion FindNewestVersion(const std::string& base, const std::string& dir) {
  ImageVersion highest = 0;
  // Every entry that matches counts, whatever its kind: the listing does not tell files apart.
  for (const std::string& name : ListDirectory(DirectoryPrefix(dir), base + ".???")) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    const ImageVersion version = VersionFromExtension(name.substr(dot));
    if (version > highest) highest = version;
  }
  return highest;
}

ImageVersion FindNewestVersion(const std::string& base, const ImageDirectories& dirs) {
  ImageVersion highest = 0;
  for (const std::string& dir : dirs) highest = std::max(highest, FindNewestVersion(base, dir));
  return highest;
}

ImageDirectories DefaultImageDirectories() {
  return ImageSearchDirectories();
}

std::string ImagePath(const std::string& base, ImageVersion version, const std::string& dir) {
  if (!ValidVersion(version)) return {};
  return DirectoryPrefix(dir) + base + "." + Digits(version);
}

std::string FindImagePath(const std::string& base, ImageVersion version,
                          const ImageDirectories& dirs) {
  if (!ValidVersion(version)) return {};
  const std::string name = base + "." + Digits(version);
  // The same listing FindNewestVersion reads, so the file used is the one that was counted.
  for (const std::string& dir : dirs) {
    if (!ListDirectory(DirectoryPrefix(dir), name).empty()) return ImagePath(base, version, dir);
  }
  return {};
}

std::string DirectoriesText(const ImageDirectories& dirs) {
  std::string text;
  for (size_t i = 0; i < dirs.size(); ++i) {
    if (i > 0) text += i + 1 == dirs.size() ? " or " : ", ";
    text += dirs[i].empty() ? "./" : dirs[i];
  }
  return text;
}

std::string VersionText(ImageVersion version) {
  if (!ValidVersion(version)) return "unknown";
  const std::string digits = Digits(version);
  return std::string(1, digits[0]) + "." + digits.substr(1);
}

std::string VersionDigits(ImageVersion version) {
  if (!ValidVersion(version)) return "000";
  return Digits(version);
}

const char* LogicImageBase(const std::string& serialNumber) {
  return serialNumber.size() == 10 && serialNumber[9] == 'C' ? kLogicBaseC : kLogicBase;
}

}  // namespace vanta
