#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/image_gen.h"
#include "update/image_catalogue.h"

namespace vanta {
namespace {

using test::ImageTempDir;
using test::WriteTextFile;

TEST(VersionFromExtension, TakesOnlyADotAndThreeDigits) {
  struct Row {
    const char* extension;
    ImageVersion expected;
  };
  const Row rows[] = {
      {".042", 42}, {".105", 105}, {".999", 999}, {".000", 0},  {"x042", 42},  // dot not examined
      {".12", 0},   {".1234", 0},  {"", 0},       {".1A5", 0},  {".0a2", 0},
      {". 12", 0},  {".-12", 0},   {".255", 255}, {".256", 256}};
  for (const Row& row : rows) {
    EXPECT_EQ(VersionFromExtension(row.extension), row.expected) << '"' << row.extension << '"';
  }
}

TEST(VersionText, ShowsOneDigitPointTwoDigitsAndUnknownOutsideOneTo255) {
  struct Row {
    ImageVersion version;
    const char* text;
    const char* digits;
  };
  const Row rows[] = {{0, "unknown", "000"},   {1, "0.01", "001"},       {5, "0.05", "005"},
                      {7, "0.07", "007"},      {100, "1.00", "100"},     {123, "1.23", "123"},
                      {255, "2.55", "255"},    {256, "unknown", "000"},  {300, "unknown", "000"},
                      {999, "unknown", "000"}, {65535, "unknown", "000"}};
  for (const Row& row : rows) {
    EXPECT_EQ(VersionText(row.version), row.text) << row.version;
    EXPECT_EQ(VersionDigits(row.version), row.digits) << row.version;
  }
}

TEST(ImagePath, JoinsDirectoryBaseAndThreeDigitsAndRefusesVersionsOutsideOneTo255) {
  EXPECT_EQ(ImagePath("VT7PP4FW", 7, "/opt/vanta/"), "/opt/vanta/VT7PP4FW.007");
  EXPECT_EQ(ImagePath("PP4JEDK1", 123, "/opt/vanta/"), "/opt/vanta/PP4JEDK1.123");
  EXPECT_EQ(ImagePath("VT7PP4FW", 7, "/opt/vanta"), "/opt/vanta/VT7PP4FW.007");
  EXPECT_EQ(ImagePath("VT7PP4FW", 0, "/opt/vanta/"), "");
  EXPECT_EQ(ImagePath("VT7PP4FW", 256, "/opt/vanta/"), "");
  EXPECT_EQ(ImagePath("VT7PP4FW", 300, "/opt/vanta/"), "");
}

// Beside the program, then the user's images, then the system's: the newest version across them
// counts, and its file is taken from the first directory that holds that version.
TEST(FindImagePath, TakesTheNewestAcrossDirectoriesFromTheFirstDirectoryThatHoldsIt) {
  ImageTempDir program, user, system;
  ASSERT_TRUE(WriteTextFile(program.File("VT7PP4FW.100"), "x"));
  ASSERT_TRUE(WriteTextFile(user.File("VT7PP4FW.105"), "x"));
  ASSERT_TRUE(WriteTextFile(system.File("VT7PP4FW.105"), "x"));
  ASSERT_TRUE(WriteTextFile(system.File("VT7PP4FW.101"), "x"));
  const ImageDirectories dirs = {program.Path(), "/nonexistent/vanta/", user.Path(), system.Path()};
  EXPECT_EQ(FindNewestVersion("VT7PP4FW", dirs), 105);
  EXPECT_EQ(FindImagePath("VT7PP4FW", 105, dirs), user.File("VT7PP4FW.105"));
  EXPECT_EQ(FindImagePath("VT7PP4FW", 101, dirs), system.File("VT7PP4FW.101"));
  EXPECT_EQ(FindImagePath("VT7PP4FW", 102, dirs), "");
  EXPECT_EQ(FindImagePath("PP4JEDK0", 100, dirs), "");
  EXPECT_EQ(FindNewestVersion("VT7PP4FW", ImageDirectories{}), 0);
}

TEST(DefaultImageDirectories, AreBesideTheProgramInTheUserDataDirectoryAndTheSystemOne) {
  const char* old = getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  ImageDirectories dirs = DefaultImageDirectories();
  EXPECT_EQ(dirs, (ImageDirectories{ProgramDirectory(), "/srv/data/Norvane/vantaLink/images/",
                                    "/usr/share/vantalink/images/"}));
  setenv("XDG_DATA_HOME", "relative/data", 1);  // XDG counts only absolute paths
  dirs = DefaultImageDirectories();
  EXPECT_EQ(dirs[1], std::string(getenv("HOME")) + "/.local/share/Norvane/vantaLink/images/");
  if (old != nullptr) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

// Each row: the names in the directory, and the newest firmware version they give.
TEST(FindNewestVersion, PicksTheHighestThreeDigitExtensionOfTheBaseName) {
  struct Row {
    const char* why;
    std::vector<std::string> names;
    ImageVersion expected;
  };
  const std::vector<Row> rows = {
      {"no file", {}, 0},
      {"two versions", {"VT7PP4FW.099", "VT7PP4FW.105"}, 105},
      {"a non-digit extension adds nothing", {"VT7PP4FW.099", "VT7PP4FW.105", "VT7PP4FW.1A5"}, 105},
      {"only 000", {"VT7PP4FW.000"}, 0},
      {"300 is found though no tool version can use it", {"VT7PP4FW.300", "VT7PP4FW.105"}, 300},
      {"two or four characters after the dot", {"VT7PP4FW.12", "VT7PP4FW.1234"}, 0},
      {"names match case-sensitively", {"vt7pp4fw.105", "Vt7PP4FW.106"}, 0},
      {"other base names do not count", {"PP4JEDK0.200", "VT7PP4FWX.201", "XVT7PP4FW.202"}, 0},
      {"a dot among the three characters", {"VT7PP4FW.1.5"}, 0},
      {"single version 1", {"VT7PP4FW.001"}, 1},
  };
  for (const Row& row : rows) {
    ImageTempDir dir;
    for (const std::string& name : row.names) ASSERT_TRUE(WriteTextFile(dir.File(name), "x"));
    EXPECT_EQ(FindNewestVersion("VT7PP4FW", dir.Path()), row.expected) << row.why;
  }
}

TEST(FindNewestVersion, CountsEveryMatchingEntryWhateverItsKind) {
  ImageTempDir dir;
  ASSERT_TRUE(WriteTextFile(dir.File("VT7PP4FW.010"), "x"));
  ASSERT_EQ(mkdir(dir.File("VT7PP4FW.120").c_str(), 0700), 0);
  EXPECT_EQ(FindNewestVersion("VT7PP4FW", dir.Path()), 120);
}

TEST(FindNewestVersion, MissingDirectoryGivesNone) {
  EXPECT_EQ(FindNewestVersion("VT7PP4FW", "/nonexistent/vanta/images/"), 0);
  ImageTempDir dir;
  ASSERT_TRUE(WriteTextFile(dir.File("PP4JEDK0.012"), "x"));
  // A directory given without its trailing '/' is the same directory.
  std::string bare = dir.Path();
  bare.pop_back();
  EXPECT_EQ(FindNewestVersion("PP4JEDK0", bare), 12);
}

// Lines of text in memory are cut as a file's are read: CR LF is one LF, a lone CR stays, a line
// longer than the buffer goes on as the next, also when the cut falls between CR and LF.
TEST(TextLines, InMemoryAreCutAsAFileIsRead) {
  struct Row {
    std::string text;
    size_t bufferSize;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"a\r\nb", 1024, {"a\n", "b"}},
      {"a\rb\n\n", 1024, {"a\rb\n", "\n"}},
      {"ab\r", 1024, {"ab\r"}},
      {"\r\r\n", 1024, {"\r\n"}},
      {"abcd\r\n", 4, {"abc", "d\n"}},
      {"abc\r\nd", 4, {"abc", "\n", "d"}},
      {"ab\r\r\n", 3, {"ab", "\r\n"}},
      {"", 1024, {}},
      {"abc", 1, {}},
  };
  ImageTempDir dir;
  const std::string path = dir.File("lines.txt");
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.text) + " in " + std::to_string(row.bufferSize));
    std::vector<std::string> inMemory, fromFile;
    std::string line;
    size_t position = 0;
    const auto* data = reinterpret_cast<const uint8_t*>(row.text.data());
    while (NextTextLine(data, row.text.size(), position, line, row.bufferSize))
      inMemory.push_back(line);
    EXPECT_EQ(inMemory, row.lines);
    ASSERT_TRUE(WriteTextFile(path, row.text));
    TextFile file;
    ASSERT_TRUE(file.Open(path));
    while (file.ReadLine(line, row.bufferSize)) fromFile.push_back(line);
    EXPECT_EQ(fromFile, row.lines);
  }
}

}  // namespace
}  // namespace vanta
