// The Windows platform layer where Wine shows it as Windows does: port names, a missing port,
// the image directories, listings, replacing a file and the registry settings.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/ports.h"
#include "platform/serial_port.h"
#include "platform/system_settings.h"

namespace vanta {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of its own under the temporary folder, removed afterwards.
class WindowsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("vanta-win-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Dir() const { return dir_.string() + "\\"; }
  void Touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
  std::filesystem::path dir_;
};

TEST(WindowsPorts, ComNamesAreTheSystemsPortsAndCannotBeMapped) {
  EXPECT_EQ(ResolvePortDevice("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(ResolvePortDevice("com12"), "\\\\.\\COM12");  // \\.\ reaches COM10 and above
  EXPECT_EQ(ResolvePortDevice("\\\\.\\COM3"), "\\\\.\\COM3");
  EXPECT_EQ(ResolvePortDevice("C:\\dev\\x"), "C:\\dev\\x");
  EXPECT_FALSE(PortNamesAreLinks());
  EXPECT_FALSE(IsPortMapped(5));
  std::string error;
  EXPECT_FALSE(MapPort(5, "C:\\x", error));
  EXPECT_NE(error.find("Windows names its serial ports itself"), std::string::npos) << error;
}

TEST(WindowsSerialPort, AMissingPortIsNoDeviceWithTheSystemsTextAndLeavesNothingOpen) {
  auto port = MakeSerialPort();
  EXPECT_EQ(port->OpenPort("COM187"), PortStatus::OpenFailed);
  const OpenFailure& failure = port->LastOpenFailure();
  EXPECT_EQ(failure.fault, OpenFault::NoDevice);
  EXPECT_EQ(failure.device, "\\\\.\\COM187");
  EXPECT_EQ(failure.systemError, static_cast<int>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(failure.systemText.empty());
  EXPECT_EQ(failure.systemText.back() == '\n', false);
  EXPECT_FALSE(PortDeviceExists("COM187"));

  uint8_t byte = 0;
  EXPECT_EQ(port->ReadByte(byte, 0), PortStatus::Gone);
  EXPECT_EQ(port->WriteBlock(&byte, 1), PortStatus::Gone);
  EXPECT_EQ(port->SetPortSpeed(19200), PortStatus::SpeedRefused);
  EXPECT_EQ(port->Speed(), 9600u);  // the setting could not be read: nothing stored
  port->PurgeInput();
  port->ClosePort();
  port->ClosePort();
}

TEST(WindowsSerialPort, AFileIsNoSerialPort) {
  const std::string path = (std::filesystem::temp_directory_path() / "vanta-not-a-port").string();
  std::ofstream(path) << "x";
  auto port = MakeSerialPort();
  EXPECT_EQ(port->OpenPort(path), PortStatus::OpenFailed);
  EXPECT_NE(port->LastOpenFailure().fault, OpenFault::None);
  EXPECT_NE(port->LastOpenFailure().fault, OpenFault::NoDevice);
  port->ClosePort();
  // Closed again: the file can be removed at once.
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(WindowsFiles, ImageDirectoriesAreBesideTheProgramThenLocalAppDataThenProgramData) {
  SetEnvironmentVariableA("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local\\");
  SetEnvironmentVariableA("PROGRAMDATA", "D:\\Data");
  const std::vector<std::string> dirs = ImageSearchDirectories();
  ASSERT_EQ(dirs.size(), 3u);
  EXPECT_EQ(dirs[0], ProgramDirectory());
  EXPECT_EQ(dirs[1], "C:\\Users\\u\\AppData\\Local\\Norvane\\vantaLink\\images\\");
  EXPECT_EQ(dirs[2], "D:\\Data\\Norvane\\vantaLink\\images\\");
  // The program directory holds the program, found by a listing with '?'.
  EXPECT_EQ(ListDirectory(ProgramDirectory(), "unit_tests.???").size(), 1u);
  EXPECT_EQ(ProgramPath().rfind(ProgramDirectory(), 0), 0u);
  EXPECT_EQ(DirectoryPrefix("C:\\images"), "C:\\images\\");
  EXPECT_EQ(DirectoryPrefix("C:/images/"), "C:/images/");
  EXPECT_EQ(DirectoryPrefix(""), "");
}

// FindFirstFile lets a trailing '?' match no character at all; an image name has exactly three
// digits. Windows' file names match in either case.
TEST_F(WindowsFiles, ListingMatchesEachQuestionMarkWithExactlyOneCharacter) {
  for (const char* name : {"VT7PP4FW.006", "VT7PP4FW.06", "VT7PP4FW.0061", "vt7pp4fw.007"}) {
    Touch(name);
  }
  std::vector<std::string> names = ListDirectory(Dir(), "VT7PP4FW.???");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"VT7PP4FW.006", "vt7pp4fw.007"}));
  EXPECT_TRUE(ListDirectory(Dir() + "missing\\", "*").empty());
  EXPECT_TRUE(IsDirectory(Dir()));
  EXPECT_FALSE(IsDirectory(Dir() + "VT7PP4FW.006"));
}

TEST_F(WindowsFiles, ReplaceFileContentsLeavesTheNewContentsAndNoTemporaryFile) {
  const std::string path = Dir() + "probe.s19";
  std::string error;
  ASSERT_TRUE(ReplaceFileContents(path, "old", error)) << error;
  ASSERT_TRUE(ReplaceFileContents(path, "new contents", error)) << error;
  EXPECT_EQ(ReadText(path), "new contents");
  EXPECT_EQ(ListVisibleEntries(Dir()), std::vector<std::string>{"probe.s19"});
  EXPECT_FALSE(ReplaceFileContents(Dir() + "missing\\probe.s19", "x", error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

// The window keeps its settings under HKCU\Software\<organisation>\<application>\<section>; a
// test organisation of its own keeps the user's real settings untouched.
TEST(WindowsSettings, TheRegistrySectionGivesNumbersAndTexts) {
  const std::string organisation = "Norvane-test-" + std::to_string(GetCurrentProcessId());
  const std::string path = "Software\\" + organisation + "\\vantaLink\\Vanta7 PPC4xx";
  std::map<std::string, std::string> values;
  EXPECT_FALSE(ReadSystemSettings(organisation, "vantaLink", "Vanta7 PPC4xx", values));

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const DWORD speed = 4, port = 0xFFFFFFFF;
  RegSetValueExA(key, "Baudrate", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&speed), 4);
  RegSetValueExA(key, "ComPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), 4);
  const char ip[] = "10.1.2.3";
  RegSetValueExA(key, "VantaIP", 0, REG_SZ, reinterpret_cast<const BYTE*>(ip), sizeof ip);
  RegSetValueExA(key, "ConfigFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegCloseKey(key);

  EXPECT_TRUE(ReadSystemSettings(organisation, "vantaLink", "Vanta7 PPC4xx", values));
  EXPECT_EQ(
      values,
      (std::map<std::string, std::string>{
          {"Baudrate", "4"}, {"ComPort", "-1"}, {"VantaIP", "10.1.2.3"}, {"ConfigFile", ""}}));
  RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\" + organisation).c_str());
}

}  // namespace
}  // namespace vanta
