// A logic image through the JEDEC parser on bytes in memory: the map always has its 134 rows, and
// an accepted one holds exactly 240 fuses '0' or '1' in each.
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/loader.h"
#include "update/jedec.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuseMap map;
  ParseProblem problem;
  const JedecParse result = ParseJedec(data, size, map, problem);
  FUZZ_CHECK(map.size() == static_cast<size_t>(kFuseRows));
  if (result == JedecParse::BadRow) FUZZ_CHECK(problem.line > 0);
  if (result == JedecParse::Ok) {
    for (const std::string& row : map) {
      FUZZ_CHECK(row.size() == static_cast<size_t>(kFusesPerRow));
      FUZZ_CHECK(row.find_first_not_of("01") == std::string::npos);
    }
  }
  return 0;
}
