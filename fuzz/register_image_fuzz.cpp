// A configuration file through the stand-alone configuration loader: the line reader, the token
// reader and the register image built from the files its "[REGS]" sections name.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "setup/config_image.h"

using namespace vanta;

namespace {

// Register files the inputs can name: in the configuration's directory ("$a.def") and in the
// current directory ("a.def").
const std::string& ConfigPath() {
  static const std::string path = [] {
    const std::string dir = fuzz::ScratchDirectory();
    if (chdir(dir.c_str()) != 0) std::abort();
    mkdir((dir + "/cfg").c_str(), 0700);
    const char reg[] = "REG CTRL 0x10\n";
    for (const char* name : {"a.def", "cfg/a.def", "cfg/b.def"}) {
      fuzz::WriteScratchFile(name, reinterpret_cast<const uint8_t*>(reg), sizeof reg - 1);
    }
    fuzz::WriteScratchFile("cfg/empty.def", nullptr, 0);
    return dir + "/cfg/probe.cfg";
  }();
  return path;
}

// Walks every line and token of the text as the scan does and checks the readers' bounds.
void ScanLinesAndTokens(const uint8_t* config, size_t size) {
  std::string line, token;
  size_t position = 0;
  while (position < size && config[position] != 0xFF) {
    const size_t next = ReadConfigLine(config, size, position, line);
    FUZZ_CHECK(next > position || (next < size && config[next] == 0xFF));
    FUZZ_CHECK(next <= size);
    FUZZ_CHECK(line.size() <= 256);
    FUZZ_CHECK(line.find('\t') == std::string::npos);
    size_t at = 0;
    while (at < line.size()) {
      const size_t after = NextToken(line, at, token);
      FUZZ_CHECK(after <= line.size());
      FUZZ_CHECK(token.size() <= 255);
      at = after > at ? after : at + 1;  // step over a ';' the token reader leaves in place
    }
    if (next == position) break;
    position = next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Names with a directory could reach device files whose reads never end; the scratch files
  // are enough to exercise every path of the image builder.
  if (std::memchr(data, '/', size) != nullptr) return 0;
  const std::string& path = ConfigPath();
  fuzz::WriteScratchFile("cfg/probe.cfg", data, size);

  ConfigImage image;
  const ResultCode result = LoadConfigImage(path, image);
  FUZZ_CHECK(result == RESULT_OK || result == SETUP_E_CONFIG_FILE || result == SETUP_E_REG_FILE);
  if (size >= kConfigLimit) FUZZ_CHECK(result == SETUP_E_CONFIG_FILE);
  if (result == SETUP_E_CONFIG_FILE) return 0;

  ScanLinesAndTokens(image.config.data(), image.config.size());
  if (result == RESULT_OK) {
    FUZZ_CHECK(image.configLength == static_cast<int32_t>(size));
    FUZZ_CHECK(image.imageLength >= 0 && image.imageLength < static_cast<int32_t>(kConfigLimit));
    FUZZ_CHECK(std::all_of(image.image.begin() + image.imageLength, image.image.end(),
                           [](uint8_t b) { return b == 0xFF; }));
    // Every record starts with a tag 0x80..0xBF.
    if (image.imageLength > 0) FUZZ_CHECK((image.image[0] & 0xC0) == 0x80);
  }
  return 0;
}
