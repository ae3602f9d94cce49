#pragma once
// The network setup as the probe holds it: the block at SETUP_SECTOR decoded, and with an all-ones
// configuration host the stored configuration file and its register records.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/result_codes.h"
#include "setup/setup_block.h"

namespace vanta {

enum class SetupBlockState { Valid, Erased, Malformed };

// One record of the register image: its tag byte, where its content starts in the image, its
// size, and the name the stored configuration gives it ("" when it names fewer files).
struct RegisterRecord {
  uint8_t tag = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  std::string name;
};

struct StoredSetup {
  SetupBlockState state = SetupBlockState::Erased;
  std::string problem;                 // Malformed: what is wrong, in a few words
  std::string macText;                 // the six MAC bytes as 12 hex digits
  SetupTexts texts;                    // the four addresses as dotted quads, the file name
  bool standAlone = false;             // a valid block whose host is 255.255.255.255
  std::vector<uint8_t> configFile;     // the stored file, up to the 0xFF behind it
  std::vector<uint8_t> registerImage;  // the records, up to the 0xFF behind them
  std::vector<RegisterRecord> records;
};

// Decodes a block as TransmitSetup builds it: erased when all 104 bytes are 0xFF; malformed
// without the MAC prefix 0A 4F 19, the FF FF behind the MAC, or a terminated file name.
StoredSetup DecodeSetupBlock(const SetupBlock& block);

// The "a.b.c.d" text of an address stored most significant byte first.
std::string DottedQuadText(uint32_t address);

// Splits a register image into its records. The image holds no lengths: a record runs up to the
// tag byte of the next file that config's "[REGS]" section names (any tag byte 0x80..0xBF when
// config names no further file).
std::vector<RegisterRecord> SplitRegisterImage(const std::vector<uint8_t>& config,
                                               const std::vector<uint8_t>& image);

// Reads count bytes of probe memory from address into dest: RESULT_OK or the read's code.
using MemoryReader = std::function<ResultCode(uint32_t address, uint32_t count, uint8_t* dest)>;

// The path, relative to an extract directory, under which a stored file named name is written:
// a register file's name as its FILE line gives it ("$x/r.def" beside the configuration becomes
// "x/r.def", so the extracted configuration can be transmitted again from there), the
// configuration file under its last part. "" for a name that would leave the directory (absolute,
// a drive, a ".." part, '/' or '\\' either way), or holds control bytes.
std::string ExtractedName(const std::string& name, bool isConfigFile);

struct ExtractResult {
  bool passed = true;
  std::vector<std::string> written;  // the paths written, the configuration file first
  std::vector<std::string> refused;  // names left out: they would leave the directory
  std::string error;                 // the first failure, in one line ("" none)
};

// Writes a stand-alone setup's configuration file and register files into dir, which is created
// when missing, each under its ExtractedName (a record the configuration names no file for as
// "register-N.def"). A name refused, a second record under a name already written with other
// bytes, or a file that cannot be written fails the result; the other files are still written.
ExtractResult ExtractStoredSetup(const StoredSetup& setup, const std::string& dir);

// Reads the block and, for a stand-alone setup, the configuration file and register image through
// read (a reader that confirms what it reads on a noisy line). The first failing read's code ends
// it.
ResultCode ReadStoredSetup(const MemoryReader& read, StoredSetup& setup);

}  // namespace vanta
