#include "update/jedec.h"

#include <vector>

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

JedecParse ParseJedec(const uint8_t* text, size_t size, FuseMap& map, ParseProblem& problem) {
  map.clear();
  map.resize(kFuseRows);
  // The header fields before the marker are not looked at; the marker line must be exactly
  // "*L00000" and its line end.
  std::string line;
  size_t position = 0;
  uint32_t lineNumber = 0;
  bool marker = false;
  while (NextTextLine(text, size, position, line, kLineBuffer)) {
    ++lineNumber;
    if (line == kMarkerLine) {
      marker = true;
      break;
    }
  }
  if (!marker) {
    problem = {0, "a line \"*L00000\" before the fuse rows"};
    return JedecParse::NoMarker;
  }
  for (int r = 0; r < kFuseRows; ++r) {
    std::string& row = map[r];
    row.clear();
    for (int i = 0; i < kLinesPerRow; ++i) {
      // At the end of the text a read gives an empty line.
      if (NextTextLine(text, size, position, line, kLineBuffer)) {
        ++lineNumber;
      } else {
        line.clear();
      }
      row.append(line, 0, FuseRunLength(line));
    }
    if (row.size() != static_cast<size_t>(kFusesPerRow)) {
      problem = {lineNumber, "240 fuses '0' or '1' in every row of four lines"};
      return JedecParse::BadRow;
    }
  }
  // The fuse and transmission checksums behind the rows are not evaluated.
  return JedecParse::Ok;
}

int ReadJedecFile(StepView& view, const std::string& path, FuseMap& map, FlowOutcome* failure) {
  view.SetStatus("Logic: Reading JEDEC File ...");
  map.clear();
  map.resize(kFuseRows);
  std::vector<uint8_t> text;
  if (!ReadWholeFile(path, text)) {
    ShowError(view, "Logic: Cannot open JEDEC file!");
    if (failure != nullptr) {
      *failure = FlowOutcome::Failed(FlowStage::LogicFile);
      failure->problem = {0, "a JEDEC file that can be opened and read"};
    }
    return 0;
  }
  ParseProblem problem;
  const JedecParse parse = ParseJedec(text.data(), text.size(), map, problem);
  if (parse != JedecParse::NoMarker) {
    // The window has always shown the wait cursor while the rows are taken in (not while the
    // marker is looked for), and ended it before a box.
    WaitCursor cursor(view);
  }
  if (parse == JedecParse::Ok) {
    if (failure != nullptr) *failure = FlowOutcome::Passed();
    return 1;
  }
  ShowError(view, parse == JedecParse::NoMarker ? "Logic: Illegal JEDEC file format!"
                                                : "Illegal JEDEC file format!");
  if (failure != nullptr) {
    *failure = FlowOutcome::Failed(FlowStage::LogicFile);
    failure->problem = problem;
  }
  return 0;
}

}  // namespace vanta
