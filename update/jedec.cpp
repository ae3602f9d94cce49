#include "update/jedec.h"

#include "link/loader.h"
#include "platform/files.h"

namespace vanta {

namespace {

constexpr size_t kLineBuffer = 81;  // one read takes at most 80 characters
constexpr int kLinesPerRow = 4;
constexpr const char* kMarkerLine = "*L00000\n";

// The run of fuse characters at the start of a line.
size_t FuseRunLength(const std::string& line) {
  size_t n = 0;
  while (n < line.size() && (line[n] == '0' || line[n] == '1')) ++n;
  return n;
}

}  // namespace

int ReadJedecFile(DialogView& view, const std::string& path, FuseMap& map, FlowOutcome* failure) {
  if (failure != nullptr) *failure = FlowOutcome::Failed(FlowStage::LogicFile);
  view.SetStatus("Logic: Reading JEDEC File ...");
  map.clear();
  map.resize(kFuseRows);

  TextFile file;
  if (!file.Open(path)) {
    ShowError(view, "Logic: Cannot open JEDEC file!");
    return 0;
  }

  // The header fields before the marker are not looked at; the marker line must be exactly
  // "*L00000" and its line end.
  std::string line;
  bool marker = false;
  while (file.ReadLine(line, kLineBuffer)) {
    if (line == kMarkerLine) {
      marker = true;
      break;
    }
  }
  if (!marker) {
    file.Close();
    ShowError(view, "Logic: Illegal JEDEC file format!");
    return 0;
  }

  WaitCursor cursor(view);
  for (int r = 0; r < kFuseRows; ++r) {
    std::string& row = map[r];
    row.clear();
    for (int i = 0; i < kLinesPerRow; ++i) {
      // At the end of the file a read gives an empty line.
      if (!file.ReadLine(line, kLineBuffer)) line.clear();
      row.append(line, 0, FuseRunLength(line));
    }
    if (row.size() != static_cast<size_t>(kFusesPerRow)) {
      file.Close();
      cursor.End();
      ShowError(view, "Illegal JEDEC file format!");
      return 0;
    }
  }
  // The fuse and transmission checksums behind the rows are not evaluated.
  file.Close();
  cursor.End();
  if (failure != nullptr) *failure = FlowOutcome::Passed();
  return 1;
}

}  // namespace vanta
