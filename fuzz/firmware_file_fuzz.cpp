// A whole firmware image through the parse that ProgramFirmware runs before anything is erased,
// on bytes in memory: a refused image names its line, an accepted one holds data whose lines
// move forward through the text.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "update/firmware.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<ImageLine> lines;
  ParseProblem problem;
  const bool ok = ParseFirmwareImage(data, size, lines, problem);
  if (!ok) {
    FUZZ_CHECK(problem.line <= lines.size() + 1);
    FUZZ_CHECK(problem.expected != nullptr && problem.expected[0] != '\0');
    return 0;
  }
  bool holdsData = false;
  uint32_t position = 0;
  for (const ImageLine& line : lines) {
    FUZZ_CHECK(line.positionAfter > position && line.positionAfter <= size);
    FUZZ_CHECK(line.data.size() <= 255);
    position = line.positionAfter;
    holdsData = holdsData || !line.data.empty();
  }
  FUZZ_CHECK(holdsData);
  FUZZ_CHECK(position == size);
  return 0;
}
