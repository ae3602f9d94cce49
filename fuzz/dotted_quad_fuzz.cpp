// Address texts: whatever parses must print back to a text that parses to the same number.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "setup/dotted_quad.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const uint32_t value = ParseDottedQuad(text);
  if (value == kInvalidAddress) return 0;
  // Only digits and three dots can make an address.
  FUZZ_CHECK(text.find_first_not_of("0123456789.") == std::string::npos);
  FUZZ_CHECK(size <= 15);
  char printed[16];
  std::snprintf(printed, sizeof printed, "%u.%u.%u.%u", value >> 24, (value >> 16) & 0xFF,
                (value >> 8) & 0xFF, value & 0xFF);
  FUZZ_CHECK(ParseDottedQuad(printed) == value);
  return 0;
}
