#pragma once
// Test images: Motorola S-record firmware files and JEDEC fuse maps as the update flows read them,
// each with the flash bytes or fuse rows they must leave in the probe.
#include <cstdint>
#include <string>
#include <vector>

namespace vanta::test {

inline constexpr uint32_t kImageFirmwareSector = 0x01040000;

// One data record: its load address and bytes.
struct SRecordData {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

// How the lines of a generated S-record file are written.
struct SRecordStyle {
  int type = 3;            // data records S1, S2 or S3 (end record S9, S8 or S7)
  bool crlf = false;       // CR LF line ends instead of LF
  bool lowerCase = false;  // record letter and hex digits in lower case
  bool header = true;      // an S0 header first
  bool endRecord = true;   // the matching end record last
};

// One record line without its line end ("S1130000..."); type 0..9, count and checksum computed.
std::string SRecordLine(int type, uint32_t address, const std::vector<uint8_t>& bytes,
                        bool lowerCase = false);

// A whole file of the given records, in the given order.
std::string SRecordFile(const std::vector<SRecordData>& records, const SRecordStyle& style = {});

struct FirmwareParams {
  uint8_t version = 1;   // stored as the word 0x16nn at 0x01040004
  uint32_t size = 4096;  // image bytes from address on
  uint32_t address = kImageFirmwareSector;
  int recordLength = 32;  // data bytes per record (1..250)
  SRecordStyle style;
  uint32_t seed = 1;  // for the pseudo-random body
  // When not 0: the body alternates gapFill bytes of data and gapFill bytes of 0xFF (the gap fill
  // of a boot image), so about half of it is 0xFF. The records still carry every byte.
  uint32_t gapFill = 0;
};

struct FirmwareImage {
  std::string text;            // the S-record file
  uint32_t address = 0;        // where bytes start
  std::vector<uint8_t> bytes;  // the image; its first four bytes are 0xFF (room for the marker)
  std::vector<SRecordData> records;
};

// An image whose bytes 0..3 are erased, 4..5 hold 0x16 and the version, the rest pseudo-random
// (with params.gapFill, every other block 0xFF).
// The address range must fit the record type (S1: 16 bits, S2: 24 bits); otherwise text is empty.
FirmwareImage MakeFirmwareImage(const FirmwareParams& params);

// What flash holds after the image was programmed over erased flash and the marker AA 55 55 AA
// was written at 0x01040000: the image bytes, the marker ANDed in where it falls inside them.
std::vector<uint8_t> ExpectedFlash(const FirmwareImage& image);

// The fuses of one generated map.
enum class FusePattern { Random, AllZero, AllOne, Checker };

struct JedecParams {
  uint16_t version = 1;  // named in the header only; the UES carries the version
  int lineWidth = 60;    // fuse characters per line of the fuse list
  FusePattern pattern = FusePattern::Random;
  bool crlf = false;
  uint32_t seed = 7;
};

struct JedecImage {
  std::string text;               // the JEDEC file
  std::vector<std::string> rows;  // 134 rows of 240 '0'/'1'
};

// Header fields, "*L00000", the 134 x 240 fuses in lines of lineWidth with '*' behind the last,
// the fuse checksum "Cxxxx*", then ETX and a transmission checksum.
JedecImage MakeJedecImage(const JedecParams& params);

// The file name of an image: base + "." + three digits.
std::string ImageFileName(const std::string& base, unsigned version);

// Writes text to path (binary, exactly these bytes); false when it cannot be written.
bool WriteTextFile(const std::string& path, const std::string& text);

// A fresh directory under the system's temporary directory, removed with its contents at the end.
class ImageTempDir {
 public:
  ImageTempDir();
  ~ImageTempDir();
  ImageTempDir(const ImageTempDir&) = delete;
  ImageTempDir& operator=(const ImageTempDir&) = delete;
  // The directory with a trailing '/'.
  const std::string& Path() const { return path_; }
  // Path() + name.
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

}  // namespace vanta::test
