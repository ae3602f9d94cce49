#include "setup/config_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "setup/stored_setup.h"

namespace vanta {
namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(VANTA_TEST_DATA) + "/config/";

// Through the platform's reading, which takes UTF-8 names on Windows too.
std::vector<uint8_t> FileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// A fresh directory for one test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    // A fresh name of its own (create_directory fails on one that exists), on any system.
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path dir = fs::temp_directory_path() / ("vanta-config-" + std::to_string(random()));
      if (fs::create_directory(dir, error)) path_ = dir.string();
    }
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs the line reader over a buffer laid out as the loader leaves it: the text, then 0xFF.
std::vector<uint8_t> Buffer(const std::string& text) {
  std::vector<uint8_t> buffer(kConfigLimit, 0xFF);
  std::copy(text.begin(), text.end(), buffer.begin());
  return buffer;
}

// The record the image holds for a register file: its tag, then its bytes.
std::vector<uint8_t> Record(uint8_t tag, const std::string& path) {
  std::vector<uint8_t> record{tag};
  const std::vector<uint8_t> content = FileBytes(path);
  record.insert(record.end(), content.begin(), content.end());
  return record;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Builds the image of a configuration file from its path; the image bytes in image.
int32_t BuildFrom(const std::string& configPath, std::vector<uint8_t>& image) {
  std::vector<uint8_t> config(kConfigLimit);
  const int32_t n = LoadConfigFile(configPath, config.data());
  if (n < 0) return n;
  image.assign(kConfigLimit, 0xFF);
  const int32_t m = BuildRegisterImage(config.data(), configPath, image.data());
  // Whatever the outcome, nothing may reach past the image's length.
  const size_t used = m > 0 ? static_cast<size_t>(m) : 0;
  for (size_t i = used; i < kConfigLimit && m >= 0; ++i) {
    if (image[i] != 0xFF) {
      ADD_FAILURE() << "byte " << i << " behind the image was written";
      break;
    }
  }
  if (m >= 0) image.resize(used);
  return m;
}

TEST(ConfigFile, LoadsTheFileAheadOfAnAllOnesFill) {
  TempDir dir;
  std::vector<uint8_t> buffer(kConfigLimit, 0x00);
  WriteFile(dir / "small.cfg", "[NET]\n");
  ASSERT_EQ(LoadConfigFile(dir / "small.cfg", buffer.data()), 6);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 6), "[NET]\n");
  for (size_t i = 6; i < kConfigLimit; ++i) ASSERT_EQ(buffer[i], 0xFF) << i;

  WriteFile(dir / "empty.cfg", "");
  EXPECT_EQ(LoadConfigFile(dir / "empty.cfg", buffer.data()), 0);
  EXPECT_EQ(buffer[0], 0xFF);
}

TEST(ConfigFile, AcceptsUpTo65535BytesAndRefusesLargerOrUnreadableFiles) {
  TempDir dir;
  std::vector<uint8_t> buffer(kConfigLimit);
  WriteFile(dir / "65535.cfg", std::vector<uint8_t>(65535, 'x'));
  EXPECT_EQ(LoadConfigFile(dir / "65535.cfg", buffer.data()), 65535);
  EXPECT_EQ(buffer[65534], 'x');
  EXPECT_EQ(buffer[65535], 0xFF);  // the one byte that ends the scan

  WriteFile(dir / "65536.cfg", std::vector<uint8_t>(65536, 'x'));
  EXPECT_EQ(LoadConfigFile(dir / "65536.cfg", buffer.data()), SETUP_E_CONFIG_FILE);
  WriteFile(dir / "70000.cfg", std::vector<uint8_t>(70000, 'x'));
  EXPECT_EQ(LoadConfigFile(dir / "70000.cfg", buffer.data()), SETUP_E_CONFIG_FILE);

  EXPECT_EQ(LoadConfigFile(dir / "missing.cfg", buffer.data()), SETUP_E_CONFIG_FILE);
  EXPECT_EQ(LoadConfigFile("", buffer.data()), SETUP_E_CONFIG_FILE);
  // A directory opens but cannot be read: a read error, not an empty configuration.
  EXPECT_EQ(LoadConfigFile(dir.path(), buffer.data()), SETUP_E_CONFIG_FILE);
}

struct LineCase {
  std::string text;
  size_t start;
  std::string line;
  size_t stop;
};

TEST(ConfigLine, CopiesOneLineAndStopsWhereTheNextBegins) {
  const LineCase cases[] = {
      {"FILE a.def\nX", 0, "FILE a.def", 10},
      {"FILE a.def\r\nX", 0, "FILE a.def", 10},
      {"FILE a.def\nX", 10, "X", 12},  // line ends and blanks before a line are passed over
      {" \t\r\n\x01 FILE\ta.def", 0, "FILE a.def", 16},  // a tab inside becomes a blank
      {"FILE a.def  \n", 0, "FILE a.def  ", 12},
      {"", 0, "", 0},  // stops at the 0xFF fill, which stays for the caller to see
      {"  \n\n", 0, "", 4},
      {"abc\x7f"
       "def\n",
       0,
       "abc\x7f"
       "def",
       7},
      // 0x80..0xFE belong to the line; 0xFF ends it and stays for the caller to see.
      {"abc\x80"
       "def\n",
       0,
       "abc\x80"
       "def",
       7},
      {"abc\xfe"
       "def\n",
       0,
       "abc\xfe"
       "def",
       7},
      {"  \xe9"
       "def\n",
       0,
       "\xe9"
       "def",
       6},
      {"abc\xff"
       "def\n",
       0, "abc", 3},
      // A 0x00 inside a line ends the line's text; the copy still runs to the line end.
      {std::string("ab\0cd\nX", 7), 0, "ab", 5},
  };
  for (const LineCase& c : cases) {
    const std::vector<uint8_t> buffer = Buffer(c.text);
    std::string line = "old";
    EXPECT_EQ(ReadConfigLine(buffer.data(), buffer.size(), c.start, line), c.stop) << c.text;
    EXPECT_EQ(line, c.line) << c.text;
  }
}

TEST(ConfigLine, ALineOfMoreThan256CharactersContinuesAsTheNextLine) {
  const std::string text = std::string(256, 'x') + "FILE a.def\n";
  const std::vector<uint8_t> buffer = Buffer(text);
  std::string line;
  size_t at = ReadConfigLine(buffer.data(), buffer.size(), 0, line);
  EXPECT_EQ(at, 256u);
  EXPECT_EQ(line, std::string(256, 'x'));
  at = ReadConfigLine(buffer.data(), buffer.size(), at, line);
  EXPECT_EQ(line, "FILE a.def");
  EXPECT_EQ(at, 266u);
}

TEST(ConfigLine, NeverReadsPastTheBufferItIsGiven) {
  const uint8_t bytes[] = {' ', 'A', 'B'};
  std::string line;
  EXPECT_EQ(ReadConfigLine(bytes, 3, 0, line), 3u);
  EXPECT_EQ(line, "AB");
  EXPECT_EQ(ReadConfigLine(bytes, 3, 3, line), 3u);
  EXPECT_EQ(line, "");
}

struct TokenCase {
  std::string line;
  size_t start;
  std::string token;
  size_t after;
};

TEST(ConfigToken, SplitsAtBlanksAndSemicolonsAndHonoursQuotes) {
  const TokenCase cases[] = {
      {"FILE a.def", 0, "FILE", 4},
      {"FILE a.def", 4, "a.def", 10},
      {"   FILE", 0, "FILE", 7},
      {"a.def;comment", 0, "a.def", 5},  // the ';' is left for the next call
      {"; x.def", 0, "", 0},             // ';' at the start: an empty token, a comment
      {"FILE ; x.def", 4, "", 5},
      {"\"my regs.def\" rest", 0, "my regs.def", 13},
      {"  \"a;b c\"", 0, "a;b c", 9},
      {"\"unclosed name", 0, "unclosed name", 14},
      {"\"\"x", 0, "", 2},
      {"", 0, "", 0},
      {"   ", 0, "", 3},
      {"abc", 3, "", 3},
  };
  for (const TokenCase& c : cases) {
    std::string_view token = "old";
    EXPECT_EQ(NextToken(c.line, c.start, token), c.after) << c.line;
    EXPECT_EQ(token, c.token) << c.line;
  }
}

TEST(ConfigToken, KeepsAtMost255CharactersAndPassesOverTheRest) {
  const std::string longName(300, 'n');
  const std::string bare = longName + " next", quoted = "\"" + longName + "\" next";
  std::string_view token;
  EXPECT_EQ(NextToken(bare, 0, token), 300u);
  EXPECT_EQ(token, std::string(255, 'n'));
  EXPECT_EQ(NextToken(quoted, 0, token), 302u);
  EXPECT_EQ(token, std::string(255, 'n'));
}

TEST(ConfigPath, NameGoesBehindTheConfigurationFilesDirectory) {
  const struct {
    const char* config;
    const char* name;
    const char* path;
  } cases[] = {
      {"/cfg/probe.cfg", "reg.def", "/cfg/reg.def"},
      {"/probe.cfg", "reg.def", "/reg.def"},
      {"probe.cfg", "reg.def", "reg.def"},
      {"", "reg.def", "reg.def"},
      {"cfg/", "reg.def", "cfg/reg.def"},
      {"C:\\cfg\\probe.cfg", "reg.def", "C:\\cfg\\reg.def"},
      {"a/b\\probe.cfg", "reg.def", "a/b\\reg.def"},
      {"a\\b/probe.cfg", "reg.def", "a\\b/reg.def"},
      {"/cfg/probe.cfg", "", "/cfg/"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConfigRelativePath(c.config, c.name), c.path) << c.config;
}

TEST(RegisterImage, FixtureFilesGiveTheirRecords) {
  const std::string a = kData + "a.def", b = kData + "b.def", empty = kData + "empty.def";
  const struct {
    const char* fixture;
    std::vector<uint8_t> image;
  } cases[] = {
      {"no_regs_section.cfg", {}},
      {"regs_lower_case.cfg", {}},
      {"regs_header_with_blank.cfg", {}},
      {"tabs_and_leading_blanks.cfg", Concat({Record(0x80, a), Record(0x82, b)})},
      {"numbered_tag_wraps.cfg", Concat({Record(0x86, a), Record(0xBF, b), Record(0x85, empty)})},
      {"byte_0x80_in_text.cfg", Record(0x80, a)},
      {"utf8_with_byte_order_mark.cfg",
       Concat({Record(0x80, a), Record(0x82, kData + "r\xc3\xa9gs.def")})},
      {"several_regs_sections.cfg", Concat({Record(0x80, a), Record(0x80, b)})},
      {"empty_register_file.cfg", {0x80}},
      {"byte_0xff_ends_scan.cfg", Record(0x80, a)},
      {"line_of_257_characters.cfg", Record(0x80, a)},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image;
    EXPECT_EQ(BuildFrom(kData + c.fixture, image), static_cast<int32_t>(c.image.size()))
        << c.fixture;
    EXPECT_EQ(image, c.image) << c.fixture;
  }
}

TEST(RegisterImage, UnreadableOrUnnamedRegisterFilesFailTheImage) {
  for (const char* fixture :
       {"comment_as_name.cfg", "register_file_is_directory.cfg", "missing_register_file.cfg"}) {
    std::vector<uint8_t> image;
    EXPECT_EQ(BuildFrom(kData + fixture, image), SETUP_E_REG_FILE) << fixture;
  }
}

// The example configuration: /cfg/probe.cfg naming "$reg.def" and, with a number, a quoted name
// with a blank that is looked up from the current directory.
TEST(RegisterImage, DollarNamesAreBesideTheConfigurationAndOthersAsWritten) {
  TempDir dir;
  fs::create_directory(dir / "cfg");
  WriteFile(dir / "cfg/probe.cfg", "[REGS]\nFILE $reg.def\n#3 FILE \"my regs.def\"\n");
  WriteFile(dir / "cfg/reg.def", "beside the configuration\n");
  WriteFile(dir / "my regs.def", "in the current directory\n");
  WriteFile(dir / "reg.def", "wrong reg.def\n");
  WriteFile(dir / "cfg/my regs.def", "wrong my regs.def\n");

  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  std::vector<uint8_t> image;
  const int32_t length = BuildFrom(dir / "cfg/probe.cfg", image);
  fs::current_path(previous);

  const auto expected =
      Concat({Record(0x80, dir / "cfg/reg.def"), Record(0x83, dir / "my regs.def")});
  EXPECT_EQ(length, static_cast<int32_t>(expected.size()));
  EXPECT_EQ(image, expected);
}

TEST(RegisterImage, PathsOver255CharactersAreRefusedEvenWhenTheFileExists) {
  TempDir dir;
  // Directory part + "reg.def" exactly 255 characters is fine; one more is refused.
  const size_t base = dir.path().size() + 1;  // "<tmp>/"
  const std::string name = "reg.def";
  ASSERT_LT(base + name.size() + 2, 255u);
  const std::string fits(255 - base - 1 - name.size(), 'd');
  const std::string tooLong = fits + "e";
  for (const std::string& sub : {fits, tooLong}) {
    fs::create_directory(dir / sub);
    WriteFile(dir / (sub + "/probe.cfg"), "[REGS]\nFILE $reg.def\n");
    WriteFile(dir / (sub + "/reg.def"), "r");
  }
  ASSERT_EQ((dir / (fits + "/" + name)).size(), 255u);
  std::vector<uint8_t> image;
  EXPECT_EQ(BuildFrom(dir / (fits + "/probe.cfg"), image), 2);
  EXPECT_EQ(BuildFrom(dir / (tooLong + "/probe.cfg"), image), SETUP_E_REG_FILE);
}

TEST(RegisterImage, ReachingTheImageLimitFails) {
  TempDir dir;
  WriteFile(dir / "65534.def", std::vector<uint8_t>(65534, 'r'));
  WriteFile(dir / "65535.def", std::vector<uint8_t>(65535, 'r'));
  WriteFile(dir / "30000.def", std::vector<uint8_t>(30000, 'r'));
  WriteFile(dir / "35533.def", std::vector<uint8_t>(35533, 'r'));
  WriteFile(dir / "35534.def", std::vector<uint8_t>(35534, 'r'));

  const struct {
    const char* text;
    int32_t result;
  } cases[] = {
      {"[REGS]\nFILE $65534.def\n", 65535},  // tag + 65534: the largest image
      {"[REGS]\nFILE $65535.def\n", SETUP_E_REG_FILE},
      {"[REGS]\nFILE $30000.def\nFILE $35533.def\n", 65535},
      {"[REGS]\nFILE $30000.def\nFILE $35534.def\n", SETUP_E_REG_FILE},
      {"[REGS]\nFILE $65534.def\nFILE $missing.def\n", SETUP_E_REG_FILE},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "probe.cfg", c.text);
    std::vector<uint8_t> image;
    EXPECT_EQ(BuildFrom(dir / "probe.cfg", image), c.result) << c.text;
  }
}

TEST(ConfigImage, LoadsBothBuffersOrNothing) {
  ConfigImage image;
  ASSERT_EQ(LoadConfigImage(kData + "tabs_and_leading_blanks.cfg", image), RESULT_OK);
  const auto config = FileBytes(kData + "tabs_and_leading_blanks.cfg");
  EXPECT_EQ(image.configLength, static_cast<int32_t>(config.size()));
  EXPECT_TRUE(std::equal(config.begin(), config.end(), image.config.begin()));
  EXPECT_EQ(image.config.size(), kConfigLimit);
  EXPECT_EQ(image.config[config.size()], 0xFF);
  EXPECT_EQ(image.imageLength, static_cast<int32_t>(1 + FileBytes(kData + "a.def").size() + 1 +
                                                    FileBytes(kData + "b.def").size()));
  EXPECT_EQ(image.image[0], 0x80);
  EXPECT_EQ(image.image.size(), kConfigLimit);

  EXPECT_EQ(LoadConfigImage(kData + "missing.cfg", image), SETUP_E_CONFIG_FILE);
  EXPECT_EQ(image.configLength, 0);
  EXPECT_EQ(LoadConfigImage(kData + "missing_register_file.cfg", image), SETUP_E_REG_FILE);
  EXPECT_EQ(image.imageLength, 0);
  EXPECT_EQ(image.configLength, 0);
}

// Extracted files keep the configuration's own names, and none lands outside the directory.
TEST(StoredSetupExtract, NamesStayInsideTheDirectory) {
  const struct {
    const char* name;
    bool isConfigFile;
    const char* expected;  // "" refused
  } rows[] = {
      {"$x/r.def", false, "x/r.def"},
      {"$y/r.def", false, "y/r.def"},
      {"r.def", false, "r.def"},
      {"/cfg/probe.cfg", true, "probe.cfg"},
      {"C:\\cfg\\probe.cfg", true, "probe.cfg"},
      {"$../up.def", false, ""},
      {"$x/../../up.def", false, ""},
      {"$x\\..\\up.def", false, ""},
      {"/etc/r.def", false, ""},
      {"C:\\r.def", false, ""},
      {"$a\nb.def", false, ""},
      {"$..x/r.def", false, "..x/r.def"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ExtractedName(row.name, row.isConfigFile), row.expected) << row.name;
  }
}

}  // namespace
}  // namespace vanta
