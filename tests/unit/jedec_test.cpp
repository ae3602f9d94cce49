#include "update/jedec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"

namespace vanta {
namespace {

using test::ImageTempDir;
using test::JedecImage;
using test::JedecParams;
using test::RecordingView;

constexpr const char* kIllegalRows = "Illegal JEDEC file format!";
constexpr const char* kNoMarker = "Logic: Illegal JEDEC file format!";
constexpr const char* kCannotOpen = "Logic: Cannot open JEDEC file!";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Index of the first fuse line (the one after "*L00000").
size_t FirstFuseLine(const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "*L00000") return i + 1;
  }
  return lines.size();
}

class JedecReader : public ::testing::Test {
 protected:
  // Writes text as PP4JEDK0.001 and reads it.
  int Read(const std::string& text) {
    const std::string path = dir.File("PP4JEDK0.001");
    EXPECT_TRUE(test::WriteTextFile(path, text));
    return ReadJedecFile(view, path, map);
  }
  void ExpectOneMessage(const std::string& text) {
    ASSERT_EQ(view.MessageTexts(), std::vector<std::string>{text});
    EXPECT_EQ(view.messages[0].waitDepth, 0) << "message under the wait cursor";
    EXPECT_EQ(view.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(view.messages[0].caption, "");
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_FALSE(view.unbalancedWait);
    EXPECT_EQ(view.status, "Logic: Reading JEDEC File ...");
    EXPECT_EQ(map.size(), 134u);
  }

  ImageTempDir dir;
  RecordingView view;
  FuseMap map = {"stale"};
};

TEST_F(JedecReader, ReadsSixtyCharacterLinesWithAStarAfterTheLast) {
  for (bool crlf : {false, true}) {
    JedecParams params;
    params.crlf = crlf;
    const JedecImage image = test::MakeJedecImage(params);
    view = RecordingView();
    EXPECT_EQ(Read(image.text), 1);
    EXPECT_EQ(map, image.rows);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.statuses, std::vector<std::string>{"Logic: Reading JEDEC File ..."});
    EXPECT_EQ(view.maxWaitDepth, 1);
    EXPECT_EQ(view.waitDepth, 0);
  }
}

TEST_F(JedecReader, IgnoresEverythingAfterTheLastRow) {
  JedecImage image = test::MakeJedecImage({});
  EXPECT_EQ(Read(image.text + "garbage 0101 *\n*L00000\n2222\n"), 1);
  EXPECT_EQ(map, image.rows);
}

TEST_F(JedecReader, CannotOpenAMissingFileOrAnEmptyName) {
  EXPECT_EQ(ReadJedecFile(view, dir.File("PP4JEDK0.002"), map), 0);
  ExpectOneMessage(kCannotOpen);
  EXPECT_EQ(view.maxWaitDepth, 0);
  view = RecordingView();
  EXPECT_EQ(ReadJedecFile(view, "", map), 0);
  ExpectOneMessage(kCannotOpen);
}

TEST_F(JedecReader, NeedsTheMarkerLineExactlyAsWritten) {
  const char* fixtures[] = {"marker_with_trailing_blank.jed",    "marker_with_trailing_star.jed",
                            "marker_with_fuses_on_its_line.jed", "marker_without_line_end.jed",
                            "marker_without_star.jed",           "empty.jed"};
  for (const char* fixture : fixtures) {
    view = RecordingView();
    EXPECT_EQ(ReadJedecFile(view, std::string(VANTA_TEST_DATA) + "/jedec/" + fixture, map), 0)
        << fixture;
    ExpectOneMessage(kNoMarker);
    EXPECT_EQ(view.maxWaitDepth, 0) << "the wait cursor starts only after the marker";
  }
}

// Each case changes the fuse lines of a good file; the row that comes out wrong is reported.
TEST_F(JedecReader, RejectsARowOfAnyLengthButTwoHundredForty) {
  struct Case {
    const char* why;
    void (*change)(std::vector<std::string>& lines, size_t first);
    size_t badRow;
  };
  const Case cases[] = {
      {"a blank inside a fuse line", [](auto& l, size_t f) { l[f + 5][30] = ' '; }, 1},
      {"239 fuses", [](auto& l, size_t f) { l[f + 9].pop_back(); }, 2},
      {"241 fuses", [](auto& l, size_t f) { l[f + 13] += "0"; }, 3},
      {"a lower-case or other character", [](auto& l, size_t f) { l[f + 17][59] = '2'; }, 4},
      {"the file ends after 100 rows", [](auto& l, size_t f) { l.resize(f + 100 * 4); }, 100},
  };
  for (const Case& c : cases) {
    view = RecordingView();
    const JedecImage image = test::MakeJedecImage({});
    std::vector<std::string> lines = Lines(image.text);
    c.change(lines, FirstFuseLine(lines));
    EXPECT_EQ(Read(Join(lines)), 0) << c.why;
    ExpectOneMessage(kIllegalRows);
    for (size_t r = 0; r < c.badRow; ++r) EXPECT_EQ(map[r], image.rows[r]) << c.why << r;
    EXPECT_NE(map[c.badRow].size(), 240u) << c.why;
    for (size_t r = c.badRow + 1; r < 134; ++r) EXPECT_TRUE(map[r].empty()) << c.why << r;
    // The parse names the row's last line that the file holds (lines counted from 1).
    const std::string text = Join(lines);
    ParseProblem problem;
    FuseMap parsed;
    EXPECT_EQ(ParseJedec(reinterpret_cast<const uint8_t*>(text.data()), text.size(), parsed,
                         problem),
              JedecParse::BadRow);
    EXPECT_EQ(problem.line, std::min(FirstFuseLine(lines) + 4 * (c.badRow + 1), lines.size()))
        << c.why;
  }
}

TEST_F(JedecReader, SplitsEightyCharacterLinesSoThreeOfThemMakeNoRow) {
  JedecParams params;
  params.lineWidth = 80;
  EXPECT_EQ(Read(test::MakeJedecImage(params).text), 0);
  ExpectOneMessage(kIllegalRows);
  // 80 fuses, the line end alone, 80 fuses, the line end alone.
  EXPECT_EQ(map[0].size(), 160u);
}

TEST_F(JedecReader, TakesSeventyNineFusesAndTheLineEndInOneRead) {
  // Rows written as 79 + 79 + 79 + 3 fuses: each line fits the buffer with its line end.
  const JedecImage image = test::MakeJedecImage({});
  std::string text = "QF32160*\n*L00000\n";
  for (const std::string& row : image.rows) {
    text += row.substr(0, 79) + "\n" + row.substr(79, 79) + "\n" + row.substr(158, 79) + "\n" +
            row.substr(237) + "*\n";
  }
  EXPECT_EQ(Read(text), 1);
  EXPECT_EQ(map, image.rows);
}

}  // namespace
}  // namespace vanta
