// A configuration text through the stand-alone configuration scan, in memory: the line reader,
// the token reader and the register image built from the files its "[REGS]" sections name, which
// are served from memory as well.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "setup/config_image.h"

using namespace vanta;

namespace {

// Register files the inputs can name: beside the configuration ("$a.def") and as given
// ("a.def"); any other name cannot be opened.
constexpr const char* kConfigPath = "cfg/probe.cfg";

int64_t ReadFromMemory(const std::string& path, uint8_t* dest, size_t capacity) {
  static const std::map<std::string, std::string> files = {{"a.def", "REG CTRL 0x10\n"},
                                                           {"cfg/a.def", "REG CTRL 0x10\n"},
                                                           {"cfg/b.def", "REG CTRL 0x10\n"},
                                                           {"cfg/empty.def", ""}};
  const auto it = files.find(path);
  if (it == files.end()) return -1;
  const size_t n = std::min(capacity, it->second.size());
  std::memcpy(dest, it->second.data(), n);
  return static_cast<int64_t>(n);
}

// Walks every line and token of the text as the scan does and checks the readers' bounds.
void ScanLinesAndTokens(const uint8_t* config, size_t size) {
  std::string line;
  std::string_view token;
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
      FUZZ_CHECK(token.empty() || (token.data() >= line.data() &&
                                   token.data() + token.size() <= line.data() + line.size()));
      at = after > at ? after : at + 1;  // step over a ';' the token reader leaves in place
    }
    if (next == position) break;
    position = next;
  }
}

// Where the time goes: a per-byte scan of the 64 KiB behind the image makes a coverage callback
// for every byte, and two fresh 64 KiB buffers an input cost the sanitizer's allocator more than
// the scan of a short text. The buffers are kept, refilled where used and compared with memcmp.
const std::vector<uint8_t>& Erased() {
  static const std::vector<uint8_t> erased(kConfigLimit, 0xFF);
  return erased;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The file layer refuses a configuration of 64 KiB or more before any scan.
  if (size >= kConfigLimit) return 0;
  // Filled with 0xFF once; each input refills only what the one before it wrote.
  static std::vector<uint8_t> config(kConfigLimit, 0xFF), image(kConfigLimit, 0xFF);
  static size_t configUsed = 0, imageUsed = 0;
  std::memset(config.data(), 0xFF, configUsed);
  std::memset(image.data(), 0xFF, imageUsed);
  if (size > 0) std::memcpy(config.data(), data, size);
  configUsed = size;

  // The scan writes a tag byte and then what the reader serves behind it: nothing past the
  // furthest byte served may change.
  size_t served = 0;
  const auto read = [&served](const std::string& path, uint8_t* dest, size_t capacity) {
    const int64_t n = ReadFromMemory(path, dest, capacity);
    const size_t end = static_cast<size_t>(dest - image.data()) + (n > 0 ? n : 0);
    served = std::max(served, end);
    return n;
  };
  const int32_t length = BuildRegisterImage(config.data(), kConfigPath, image.data(), read);
  imageUsed = served;
  FUZZ_CHECK(length >= 0 || length == SETUP_E_REG_FILE);
  FUZZ_CHECK(served <= kConfigLimit);
  FUZZ_CHECK(std::memcmp(image.data() + served, Erased().data(), kConfigLimit - served) == 0);
  ScanLinesAndTokens(config.data(), config.size());
  if (length >= 0) {
    FUZZ_CHECK(static_cast<size_t>(length) == served);
    FUZZ_CHECK(length < static_cast<int32_t>(kConfigLimit));
    // Every record starts with a tag 0x80..0xBF.
    if (length > 0) FUZZ_CHECK((image[0] & 0xC0) == 0x80);
  }
  return 0;
}
