#pragma once
// The stand-alone configuration: the configuration file byte for byte, and the register image of
// the files its "[REGS]" section names, each behind a tag byte.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_session.h"
#include "link/result_codes.h"
#include "platform/files.h"

namespace vanta {

inline constexpr size_t kConfigLimit = 65536;
inline constexpr size_t kChunk = 1024;

// Fills buffer (kConfigLimit bytes) with 0xFF and loads the file from its start. Returns its
// length, or SETUP_E_CONFIG_FILE when it cannot be opened or read, or holds 65536 bytes or more.
int32_t LoadConfigFile(const std::string& path, uint8_t* buffer);

// Copies one line from config at position into line (at most 256 bytes, 0x80..0xFE included; a
// tab becomes a blank; a 0x00 ends the line's text), after skipping bytes 0x00..0x20. Returns
// where it stopped: CR, LF, 0xFF or the 257th byte. Never reads at or past size.
size_t ReadConfigLine(const uint8_t* config, size_t size, size_t position, std::string& line);

// Next token of line from position (blanks skipped; a double-quoted token may hold blanks and
// ';'; otherwise it ends before a blank, ';' or the end). At most 255 characters are kept.
// Returns the position after it. token is a view into line.
size_t NextToken(std::string_view line, size_t position, std::string_view& token);

// The directory part of configPath (up to its last '/' or '\\') followed by name.
std::string ConfigRelativePath(const std::string& configPath, const std::string& name);

// Reads at most capacity bytes of the register file at path into dest: the count, or a negative
// number when the file cannot be opened or read. The file layer's ReadFileBytes unless a caller
// (a test, a fuzz target) serves the files from memory.
using RegisterFileReader =
    std::function<int64_t(const std::string& path, uint8_t* dest, size_t capacity)>;

// Calls onFile with the number (0 without "#n") and the name of every FILE line of config's
// "[REGS]" sections, in order (config as for BuildRegisterImage). Stops at the first non-zero
// result of onFile and returns it, else 0. BuildRegisterImage and the reader of a stored
// configuration share it, so both see the same records.
using RegsFileVisitor = std::function<int32_t(uint32_t number, const std::string& name)>;
int32_t ForEachRegsFile(const uint8_t* config, const RegsFileVisitor& onFile);

// Which failure stopped a stand-alone configuration before anything was written, and the file it
// concerned: SETUP_E_CONFIG_FILE and SETUP_E_REG_FILE each stand for several.
enum class ConfigFault {
  None,
  ConfigMissing,        // the configuration file cannot be opened (missing, no access, no name)
  ConfigUnreadable,     // reading it failed part-way
  ConfigTooLarge,       // it holds 65536 bytes or more
  RegisterMissing,      // a register file cannot be opened (missing, no access)
  RegisterUnreadable,   // reading a register file failed part-way (a directory, a read error)
  RegisterPathTooLong,  // a register file's path passes 255 characters
  RegisterImageFull,    // the register image reaches 65536 bytes with a register file
};

struct ConfigProblem {
  ConfigFault fault = ConfigFault::None;
  std::string file;        // the file concerned: the register file's path as opened
  std::string configFile;  // the configuration file's path
};

// The problem in one line for a user ("the register file /cfg/x.def named in /cfg/probe.cfg is
// missing or cannot be opened"); "" for None.
std::string ConfigProblemText(const ConfigProblem& problem);

// Scans config (kConfigLimit bytes, ended by a 0xFF; a UTF-8 byte-order mark at its start is
// passed over) and builds the register image into image
// (kConfigLimit bytes, filled with 0xFF first). Returns its length or SETUP_E_REG_FILE (a file
// that cannot be opened or read, a path over 255 characters, an image of 65536 bytes).
// problem (when given) says which failure it was and names the register file.
int32_t BuildRegisterImage(const uint8_t* config, const std::string& configPath, uint8_t* image,
                           const RegisterFileReader& read = ReadFileBytes,
                           ConfigProblem* problem = nullptr);

// Both buffers of a loaded stand-alone configuration.
struct ConfigImage {
  std::vector<uint8_t> config;  // kConfigLimit bytes, 0xFF behind the file
  std::vector<uint8_t> image;   // kConfigLimit bytes, 0xFF behind the records
  int32_t configLength = 0;
  int32_t imageLength = 0;
};

// Loads the configuration file and builds the register image; 0, SETUP_E_CONFIG_FILE or
// SETUP_E_REG_FILE, with problem (when given) saying which failure and which file. Nothing is
// sent to the probe.
ResultCode LoadConfigImage(const std::string& configPath, ConfigImage& out,
                           ConfigProblem* problem = nullptr);

// Writes a loaded configuration in 1024-byte chunks at CONFIG_SECTOR and REGISTER_IMAGE_AREA
// (areas already erased); the first failing ProgramMemory code ends it.
ResultCode WriteConfigImage(ProbeLink& link, const ConfigImage& image);

}  // namespace vanta
