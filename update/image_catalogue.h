#pragma once
// Image files beside the program: base name, '.', three-digit version ("VT7PP4FW.105").
#include <cstdint>
#include <string>

namespace vanta {

using ImageVersion = uint16_t;  // 1..255 valid, 0 none

inline constexpr const char* kFirmwareBase = "VT7PP4FW";
inline constexpr const char* kLogicBase = "PP4JEDK0";
inline constexpr const char* kLogicBaseC = "PP4JEDK1";  // 10-character serial ending in 'C'

// Value of an extension of a dot and three digits (".042" gives 42); 0 for any other text.
ImageVersion VersionFromExtension(const std::string& extension);

// Highest version among the files base + ".???" in dir (a path ending in '/'); 0 when none.
ImageVersion FindNewestVersion(const std::string& base, const std::string& dir);
// The same in the program directory.
ImageVersion FindNewestVersion(const std::string& base);

// dir + base + "." + three digits; "" for version 0 or above 255. The file is not looked for.
std::string ImagePath(const std::string& base, ImageVersion version, const std::string& dir);
// The same in the program directory.
std::string ImagePath(const std::string& base, ImageVersion version);

// "N.NN" (5 gives "0.05"); "unknown" for 0 or above 255.
std::string VersionText(ImageVersion version);
// Three digits ("007"); "000" for 0 or above 255.
std::string VersionDigits(ImageVersion version);

}  // namespace vanta
