#pragma once
// Image files: base name, '.', three-digit version ("VT7PP4FW.105"), looked for in a list of
// directories that the program resolves once at its start.
#include <cstdint>
#include <string>
#include <vector>

namespace vanta {

using ImageVersion = uint16_t;  // 1..255 valid, 0 none

inline constexpr const char* kFirmwareBase = "VT7PP4FW";
inline constexpr const char* kLogicBase = "PP4JEDK0";
inline constexpr const char* kLogicBaseC = "PP4JEDK1";  // 10-character serial ending in 'C'

// The logic image's base name for a probe: kLogicBaseC for a serial number of 10 characters with
// 'C' as its 10th, else kLogicBase.
const char* LogicImageBase(const std::string& serialNumber);

// Value of an extension of a dot and three digits (".042" gives 42); 0 for any other text.
ImageVersion VersionFromExtension(const std::string& extension);

// Directories searched for images, most preferred first. A directory text is used as it stands,
// with or without its trailing '/'; "" is the working directory, as any relative path would be.
using ImageDirectories = std::vector<std::string>;

// Where a user can put images: beside the program, the per-user data directory and the system
// one (on Linux $XDG_DATA_HOME/Norvane/vantaLink/images, by default ~/.local/share/..., and
// /usr/share/vantalink/images). Each ends in a separator.
ImageDirectories DefaultImageDirectories();

// Highest version among the files base + ".???" in dir; 0 when none.
ImageVersion FindNewestVersion(const std::string& base, const std::string& dir);
// Highest version across all dirs; 0 when none.
ImageVersion FindNewestVersion(const std::string& base, const ImageDirectories& dirs);

// dir + base + "." + three digits; "" for version 0 or above 255. The file is not looked for.
std::string ImagePath(const std::string& base, ImageVersion version, const std::string& dir);
// The path of base + "." + three digits in the first of dirs whose listing holds that name (as
// FindNewestVersion saw it); "" for version 0 or above 255, or when no directory holds it.
std::string FindImagePath(const std::string& base, ImageVersion version,
                          const ImageDirectories& dirs);
// dirs as one text for messages: "a/, b/ or c/".
std::string DirectoriesText(const ImageDirectories& dirs);

// "N.NN" (5 gives "0.05"); "unknown" for 0 or above 255.
std::string VersionText(ImageVersion version);
// Three digits ("007"); "000" for 0 or above 255.
std::string VersionDigits(ImageVersion version);

}  // namespace vanta
