// A backup file through the reader that restore runs before anything is erased: a refused file
// names a line the file has and says what is wrong; an accepted one marks bytes only outside the
// loader's sector, and the sectors the reader says it touches hold its bytes. The bytes are read
// where they lie: the file entry point only reads the file first.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "update/backup_file.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Kept between inputs, as a caller reading several files would keep it: the reader must leave
  // nothing of an earlier file behind.
  static FlashContents contents;
  static std::vector<uint32_t> sectors;
  BackupFileProblem problem;
  const bool ok = ReadBackupText(data, size, "backup.s19", contents, problem, &sectors);
  const size_t lines = static_cast<size_t>(std::count(data, data + size, '\n')) + 1;
  if (!ok) {
    FUZZ_CHECK(problem.line >= 0 && static_cast<size_t>(problem.line) <= lines);
    FUZZ_CHECK(!problem.what.empty());
    return 0;
  }
  FUZZ_CHECK(contents.bytes.size() == kFlashSize && contents.present.size() == kFlashSize);
  FUZZ_CHECK(!sectors.empty());
  FUZZ_CHECK(std::is_sorted(sectors.begin(), sectors.end()));
  FUZZ_CHECK(std::adjacent_find(sectors.begin(), sectors.end()) == sectors.end());
  FUZZ_CHECK(sectors.front() >= kLoaderSectorEnd);
  // Each sector named holds a byte of the file (the search stops at the first).
  for (const uint32_t sector : sectors) {
    const FlashSector* named = SectorOf(sector);
    FUZZ_CHECK(named != nullptr && named->address == sector);
    const auto first = contents.present.begin() + (sector - kFlashBase);
    FUZZ_CHECK(std::find(first, first + named->size, true) != first + named->size);
  }
  return 0;
}
