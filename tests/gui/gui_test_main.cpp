// The window's tests: one REzovazedavEzu (the program's application object) for all of them, on
// the offscreen platform, with a private configuration directory instead of the user's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/qt_application.h"

int main(int argc, char** argv) {
  if (getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string config = (std::filesystem::temp_directory_path() / "vanta-gui-XXXXXX").string();
  if (mkdtemp(config.data()) == nullptr) return 2;
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);

  vanta::REzovazedavEzu app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(config, ignored);
  return result;
}
