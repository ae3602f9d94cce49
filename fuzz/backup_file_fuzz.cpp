// A backup file through the reader that restore runs before anything is erased: a refused file
// names a line the file has and says what is wrong; an accepted one marks bytes only outside the
// loader's sector, holds 0xFF wherever it marks none, and the sectors it touches hold its bytes.
#include <algorithm>
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/loader.h"
#include "update/flash_backup.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile("backup.s19", data, size);
  // Kept between inputs, as a caller reading several files would keep it: the reader must leave
  // nothing of an earlier file behind.
  static FlashContents contents;
  BackupFileProblem problem;
  const bool ok = ReadBackupFile(path, contents, problem);
  const size_t lines = static_cast<size_t>(std::count(data, data + size, '\n')) + 1;
  if (!ok) {
    FUZZ_CHECK(problem.line >= 0 && static_cast<size_t>(problem.line) <= lines);
    FUZZ_CHECK(!problem.what.empty());
    return 0;
  }
  FUZZ_CHECK(contents.bytes.size() == kFlashSize && contents.present.size() == kFlashSize);
  const std::vector<uint32_t> sectors = TouchedSectors(contents);
  FUZZ_CHECK(!sectors.empty());
  FUZZ_CHECK(std::is_sorted(sectors.begin(), sectors.end()));
  FUZZ_CHECK(std::adjacent_find(sectors.begin(), sectors.end()) == sectors.end());
  FUZZ_CHECK(sectors.front() >= kLoaderSectorEnd);
  return 0;
}
