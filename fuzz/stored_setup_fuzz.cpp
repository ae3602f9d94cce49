// What a probe can send back for "setup show": the 104-byte block at SETUP_SECTOR, then the
// configuration file at CONFIG_SECTOR and the register image, each read up to the 0xFF behind
// it. The first 104 input bytes are the block (0xFF where the input is shorter); the rest is the
// flash behind it, the file up to the first 0xFF and the image up to the next.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "setup/config_image.h"
#include "setup/dotted_quad.h"
#include "setup/stored_setup.h"

using namespace vanta;

namespace {

uint32_t Quad(const SetupBlock& block, size_t offset) {
  return uint32_t{block[offset]} << 24 | uint32_t{block[offset + 1]} << 16 |
         uint32_t{block[offset + 2]} << 8 | block[offset + 3];
}

// The address a decoded text stands for; all ones also for 255.255.255.255 itself.
void CheckAddress(const std::string& text, uint32_t stored) {
  FUZZ_CHECK(ParseDottedQuad(text) == stored);
  FUZZ_CHECK(DottedQuadText(stored) == text);
}

// The bytes from at up to the next 0xFF (or the end), at most kConfigLimit - 1 of them.
std::vector<uint8_t> UpToFill(const uint8_t*& at, const uint8_t* end) {
  const uint8_t* fill = std::find(at, end, 0xFF);
  std::vector<uint8_t> bytes(at, std::min(fill, at + (kConfigLimit - 1)));
  at = fill == end ? end : fill + 1;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetupBlock block;
  block.fill(0xFF);
  std::memcpy(block.data(), data, std::min(size, block.size()));
  const StoredSetup setup = DecodeSetupBlock(block);
  const bool erased = std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0xFF; });
  FUZZ_CHECK(erased == (setup.state == SetupBlockState::Erased));
  if (setup.state == SetupBlockState::Malformed) FUZZ_CHECK(!setup.problem.empty());
  if (setup.state == SetupBlockState::Valid) {
    FUZZ_CHECK(setup.macText.size() == 12);
    FUZZ_CHECK(setup.macText.rfind("0A4F19", 0) == 0);
    CheckAddress(setup.texts.probeIpText, Quad(block, 8));
    CheckAddress(setup.texts.subnetMaskText, Quad(block, 12));
    CheckAddress(setup.texts.gatewayText, Quad(block, 16));
    CheckAddress(setup.texts.configHostText, Quad(block, 20));
    FUZZ_CHECK(setup.standAlone == (Quad(block, 20) == kInvalidAddress));
    // The name ends at the first 0x00 behind byte 24, inside the block.
    const std::string& name = setup.texts.configFileText;
    FUZZ_CHECK(name.size() < kSetupBlockSize - 24);
    FUZZ_CHECK(name.find('\0') == std::string::npos);
    FUZZ_CHECK(std::memcmp(name.data(), block.data() + 24, name.size()) == 0);
    FUZZ_CHECK(block[24 + name.size()] == 0x00);
  }

  const uint8_t* at = data + std::min(size, block.size());
  const uint8_t* end = data + size;
  const std::vector<uint8_t> config = UpToFill(at, end);
  const std::vector<uint8_t> image = UpToFill(at, end);
  const std::vector<RegisterRecord> records = SplitRegisterImage(config, image);
  // The records follow one another from the image's first byte, each behind its tag byte, and
  // stay inside the image.
  size_t next = 0;
  for (const RegisterRecord& record : records) {
    FUZZ_CHECK(record.offset == next + 1);
    FUZZ_CHECK(record.offset + size_t{record.size} <= image.size());
    FUZZ_CHECK(record.tag == image[next]);
    FUZZ_CHECK(record.tag >= 0x80 && record.tag <= 0xBF);
    next = record.offset + record.size;
  }
  FUZZ_CHECK(records.empty() == (image.empty() || image[0] < 0x80 || image[0] > 0xBF));
  return 0;
}
