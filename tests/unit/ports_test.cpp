#include "platform/ports.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace vanta {
namespace {

namespace fs = std::filesystem;

// Every test runs with its own configuration home, never the user's.
class Ports : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vanta-ports-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    const char* old = getenv("XDG_CONFIG_HOME");
    if (old != nullptr) savedXdg = old;
    hadXdg = old != nullptr;
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  }
  void TearDown() override {
    if (hadXdg) {
      setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(home);
  }
  std::string home;
  std::string savedXdg;
  bool hadXdg = false;
};

TEST_F(Ports, LinkDirectoryFollowsXdgConfigHomeOrHome) {
  EXPECT_EQ(PortLinkDirectory(), home + "/config/Norvane/ports/");
  const char* oldHome = getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
  EXPECT_EQ(PortLinkDirectory(), home + "/.config/Norvane/ports/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(PortLinkDirectory(), home + "/.config/Norvane/ports/");
  setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(Ports, ComNumberOfPortNames) {
  const std::pair<const char*, int> cases[] = {{"\\\\.\\COM1", 1},
                                               {"\\\\.\\COM19", 19},
                                               {"\\\\.\\COM0", 0},
                                               {"COM5", 5},
                                               {"com7", 7},
                                               {"COM", -1},
                                               {"COM-1", -1},
                                               {"COM1a", -1},
                                               {"/dev/ttyUSB0", -1},
                                               {"\\\\.\\", -1},
                                               {"", -1},
                                               {"COM1234567", -1},
                                               {"\\\\.\\COM123456", 123456}};
  for (auto [name, number] : cases) EXPECT_EQ(ComNumber(name), number) << name;
}

TEST_F(Ports, ComNamesResolveToTheirLinkOrTheSerialDevice) {
  EXPECT_EQ(ResolvePortDevice("\\\\.\\COM1"), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortDevice("COM3"), "/dev/ttyS2");
  EXPECT_EQ(ResolvePortDevice("/dev/ttyUSB0"), "/dev/ttyUSB0");

  std::string error;
  ASSERT_TRUE(MapPort(3, "/dev/ttyUSB0", error)) << error;
  EXPECT_TRUE(fs::is_symlink(home + "/config/Norvane/ports/COM3"));
  EXPECT_EQ(ResolvePortDevice("\\\\.\\COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortDevice("\\\\.\\COM4"), "/dev/ttyS3");

  // A second map replaces the link; a dangling link still counts (the device is gone).
  ASSERT_TRUE(MapPort(3, "/dev/pts/99", error)) << error;
  EXPECT_EQ(ResolvePortDevice("COM3"), "/dev/pts/99");
}

TEST_F(Ports, MapMakesRelativeDevicesAbsoluteAndRefusesNonsense) {
  std::string error;
  const std::string cwd = fs::current_path();
  ASSERT_TRUE(MapPort(2, "ttyFAKE", error)) << error;
  EXPECT_EQ(ResolvePortDevice("COM2"), cwd + "/ttyFAKE");
  EXPECT_FALSE(MapPort(-1, "/dev/ttyS0", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(MapPort(1, "", error));

  // A configuration home that cannot be created is reported, not ignored.
  setenv("XDG_CONFIG_HOME", "/proc/no-such-dir", 1);
  error.clear();
  EXPECT_FALSE(MapPort(1, "/dev/ttyS0", error));
  EXPECT_FALSE(error.empty());
}

TEST_F(Ports, UnmapRemovesOnlyTheExpectedLink) {
  std::string error;
  ASSERT_TRUE(MapPort(5, "/dev/pts/7", error));
  UnmapPort(5, "/dev/pts/8");  // someone else's link now: kept
  EXPECT_EQ(ResolvePortDevice("COM5"), "/dev/pts/7");
  UnmapPort(5, "/dev/pts/7");
  EXPECT_EQ(ResolvePortDevice("COM5"), "/dev/ttyS4");
  ASSERT_TRUE(MapPort(5, "/dev/pts/7", error));
  UnmapPort(5);
  EXPECT_FALSE(fs::exists(fs::symlink_status(home + "/config/Norvane/ports/COM5")));
  UnmapPort(5);  // nothing there: harmless
}

}  // namespace
}  // namespace vanta
