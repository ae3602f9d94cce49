// One S-record line as the firmware reader hands it over.
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "update/srecord.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader never hands over more than 255 characters at once.
  if (size > 255) return 0;
  const std::string line(reinterpret_cast<const char*>(data), size);
  // Exactly the 256 bytes the contract promises, on the heap so a write past them is reported.
  std::unique_ptr<uint8_t[]> out(new uint8_t[256]);
  uint32_t address = 0;
  const int count = ParseSRecord(line, address, out.get());
  FUZZ_CHECK(count >= -1 && count <= 256);
  if (size >= 2) (void)HexByte(line[0], line[1]);
  return 0;
}
