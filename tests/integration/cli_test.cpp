// The command line in-process: its parsers and formatters as tables, and whole runs of RunCli
// against virtual probes on pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_app.h"
#include "cli/commands/command.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/link_trace.h"
#include "cli/output.h"
#include "cli/port_hint.h"
#include "cli/probe_session.h"
#include "cli/settings_file.h"
#include "dialog/dialog_controller.h"
#include "link/loader.h"
#include "platform/ports.h"
#include "sim/virtual_probe.h"
#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"

namespace vanta::cli {
namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A firmware image of 32-byte S3 records.
test::FirmwareImage MakeFirmware(uint8_t version, uint32_t size) {
  return test::MakeFirmwareImage({.version = version,
                                  .size = size,
                                  .address = test::kImageFirmwareSector,
                                  .recordLength = 32,
                                  .style = {},
                                  .seed = version});
}

// A temporary directory that is also the settings and port-link home for the test.
class TempHome {
 public:
  TempHome() {
    char pattern[] = "/tmp/vanta-cli-test-XXXXXX";
    path_ = mkdtemp(pattern);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
  }
  ~TempHome() {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_, saved_;
  bool hadOld_ = false;
};

// ---- Status texts to progress ----

TEST(CliProgress, SplitsThePercentageFromTheStatusText) {
  struct Row {
    const char* status;
    const char* base;
    int percent;
  };
  const Row rows[] = {
      {"Firmware: Programming Flash ... ( 42% )", "Firmware: Programming Flash ...", 42},
      {"Logic: Verifying ... ( 0% )", "Logic: Verifying ...", 0},
      {"Logic: Programming ... ( 99% )", "Logic: Programming ...", 99},
      {"Firmware: Programming Flash ... (100%)", "Firmware: Programming Flash ...", 100},
      {"Connecting to Vanta Loader ...", "Connecting to Vanta Loader ...", -1},
      {"Firmware: Programming Flash ... failed!", "Firmware: Programming Flash ... failed!", -1},
      {"odd ( 12 )", "odd ( 12 )", -1},
      {"( %)", "( %)", -1},
      {"", "", -1},
  };
  for (const Row& row : rows) {
    std::string base;
    int percent = 7;
    bool found = ParseProgress(row.status, base, percent);
    EXPECT_EQ(base, row.base) << row.status;
    EXPECT_EQ(percent, row.percent) << row.status;
    EXPECT_EQ(found, row.percent >= 0) << row.status;
  }
}

TEST(CliProgress, ProgressLineShowsABarAndNeverWrapsTheTerminal) {
  std::string line = RenderProgressLine("COM1", 6, "Firmware: Programming Flash ... ( 50% )", 120);
  EXPECT_EQ(line.rfind("COM1    [", 0), 0u) << line;
  EXPECT_NE(line.find("############............]"), std::string::npos) << line;
  EXPECT_NE(line.find(" 50%  Firmware: Programming Flash ..."), std::string::npos) << line;
  EXPECT_EQ(line.find("( 50% )"), std::string::npos) << line;

  std::string narrow = RenderProgressLine("COM1", 4, std::string(200, 'x'), 40);
  EXPECT_EQ(narrow.size(), 39u);
  EXPECT_EQ(RenderProgressLine("COM1", 4, "Connecting ...", 80), "COM1  Connecting ...");
}

TEST(CliProgress, NumbersDrawTheBarAndTheTimeLeftWithoutAPercentageInTheText) {
  ProgressNumbers numbers;
  numbers.done = 25000;
  numbers.total = 100000;
  numbers.bytes = true;
  numbers.rate = 1000;  // 75 s left
  const std::string line =
      RenderProgressLine("COM1", 4, "Backup: Reading Flash ...", 120, &numbers);
  EXPECT_NE(line.find("[######..................]  25%  Backup: Reading Flash ..."),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("1.0 kB/s, 1:15 left"), std::string::npos) << line;
  // The numbers win over a text's own percentage, and a rate not known yet shows none.
  numbers.rate = 0;
  const std::string stale = RenderProgressLine("COM1", 4, "Reading ... ( 90% )", 120, &numbers);
  EXPECT_NE(stale.find(" 25%  Reading ..."), std::string::npos) << stale;
  EXPECT_EQ(stale.find("left"), std::string::npos) << stale;
}

// ---- The command table ----

// The backticked words of the README's sentence that begins with head, up to its ')'.
std::set<std::string> ReadmeList(const std::string& head) {
  std::ifstream in(std::string(VANTA_TEST_DATA) + "/../../README.md");
  std::string text(std::istreambuf_iterator<char>(in), {});
  for (char& c : text) c = c == '\n' ? ' ' : c;
  std::string collapsed;
  for (char c : text) {
    if (c != ' ' || collapsed.empty() || collapsed.back() != ' ') collapsed += c;
  }
  const size_t start = collapsed.find(head);
  EXPECT_NE(start, std::string::npos) << head;
  const std::string list =
      collapsed.substr(start + head.size(), collapsed.find(')', start) - start - head.size());
  std::set<std::string> names;
  for (size_t open = list.find('`'); open != std::string::npos; open = list.find('`', open)) {
    const size_t close = list.find('`', open + 1);
    const std::string words = list.substr(open + 1, close - open - 1);
    names.insert(words.substr(0, words.find(' ')));  // "erase --yes", "setup show"
    open = close + 1;
  }
  return names;
}

TEST(CliCommands, TraitsAreWhatTheReadmeSays) {
  std::set<std::string> watchable, oneObject, all;
  for (const CommandRow& row : CommandTable()) {
    all.insert(row.name);
    if (row.traits.watchable) watchable.insert(row.name);
    if (row.traits.oneObject) oneObject.insert(row.name);
    EXPECT_EQ(FindCommand(row.name), &row);
    EXPECT_EQ(std::string(row.help->name), row.name) << "the help page of " << row.name;
    EXPECT_FALSE(row.traits.watchable && !row.traits.perProbe) << row.name;
  }
  EXPECT_EQ(all.size(), 11u);
  EXPECT_EQ(watchable, ReadmeList("`--watch` (with "));
  EXPECT_EQ(oneObject, ReadmeList("`--json` prints the same as a JSON array ("));
}

// ---- The window's settings file ----

TEST(CliSettings, ReadsQSettingsIniForms) {
  IniData data = ParseIni(
      "; comment\n"
      "[General]\n"
      "x=1\n"
      "[Vanta7%20PPC4xx]\n"
      "Baudrate=4\n"
      "ComPort = 2\r\n"
      "VantaIP=192.168.1.10\n"
      "ConfigFile=\"C:\\\\probe, one.cfg\"\n"
      "Subnet=@String(255.255.0.0)\n"
      "Gateway=a, b\n"
      "HostIP=\"  spaced  \"\n"
      "Odd=@@at\n"
      "Uni=\\x41\\x20ac\n"
      "Tail=ends\\\n"
      "no equals sign\n"
      "[half%2]\nk%4=1\n"
      "[odd%zz%41]\n%41%=2\n");
  const auto& section = data["Vanta7 PPC4xx"];
  EXPECT_EQ(section.at("Baudrate"), "4");
  EXPECT_EQ(section.at("ComPort"), "2");
  EXPECT_EQ(section.at("VantaIP"), "192.168.1.10");
  EXPECT_EQ(section.at("ConfigFile"), "C:\\probe, one.cfg");
  EXPECT_EQ(section.at("Subnet"), "255.255.0.0");
  EXPECT_EQ(section.at("Gateway"), "a");  // an unquoted comma makes a list
  EXPECT_EQ(section.at("HostIP"), "  spaced  ");
  EXPECT_EQ(section.at("Odd"), "@at");
  EXPECT_EQ(section.at("Uni"), "A\xE2\x82\xAC");
  EXPECT_EQ(section.at("Tail"), "ends\\");  // a backslash that ends the value is kept
  EXPECT_EQ(data["General"].at("x"), "1");
  // A % not followed by two hex digits stands for itself, also at the end of a name.
  EXPECT_EQ(data["half%2"].at("k%4"), "1");
  EXPECT_EQ(data["odd%zzA"].at("A%"), "2");
}

TEST(CliSettings, StoredValuesComeFromTheSectionAndBadNumbersAreIgnored) {
  TempHome home;
  EXPECT_FALSE(ReadStoredSettings().found);  // no file: nothing, and no error
  fs::create_directories(home.Path() + "/Norvane");
  EXPECT_EQ(SettingsFilePath(), home.Path() + "/Norvane/vantaLink.conf");
  // The same file with a UTF-8 byte-order mark in front (as some editors save it) reads alike.
  for (const char* mark : {"", "\xEF\xBB\xBF"}) {
    SCOPED_TRACE(*mark != '\0' ? "with a byte-order mark" : "plain");
    WriteText(SettingsFilePath(),
              std::string(mark) +
                  "[Vanta7%20PPC4xx]\nBaudrate=x3\nComPort=-1\n"
                  "VantaIP=10.0.0.7\nHostIP=255.255.255.255\n[Other]\nVantaIP=9.9.9.9\n");
    StoredSettings stored = ReadStoredSettings();
    EXPECT_TRUE(stored.found);
    EXPECT_FALSE(stored.speedIndex.has_value());
    EXPECT_EQ(stored.portIndex, -1);
    EXPECT_EQ(stored.setup.probeIpText, "10.0.0.7");
    EXPECT_EQ(stored.setup.configHostText, "255.255.255.255");
    // A text the section does not hold reads as the window's default.
    EXPECT_EQ(stored.setup.subnetMaskText, "255.255.255.0");
    EXPECT_EQ(stored.setup.configFileText, "");
  }
  // A number followed by a 0x00 and more is no number, nor is a 0x00 alone.
  const char nul[] = "[Vanta7%20PPC4xx]\nBaudrate=3\0x\nComPort=\0\n";
  WriteText(SettingsFilePath(), std::string(nul, sizeof nul - 1));
  StoredSettings stored = ReadStoredSettings();
  EXPECT_FALSE(stored.speedIndex.has_value());
  EXPECT_FALSE(stored.portIndex.has_value());
}

// ---- --trace ----

TEST(CliTrace, DescribesHeadersCommandsAndReplies) {
  const uint8_t sync[] = {0x00, 0x01, 0x01};
  EXPECT_EQ(DescribeFrame(sync, sizeof sync, true), "-> seq 0 ch 0 len 1  LINK_SYNC  | 01");
  const uint8_t speed[] = {0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00};
  EXPECT_EQ(DescribeFrame(speed, sizeof speed, true),
            "-> seq 0 ch 0 len 5  LINK_SET_SPEED 115200  | 03 00 01 C2 00");
  const uint8_t read[] = {0x50, 0x07, LDR_READ_MEMORY, 0x01, 0x00, 0x80, 0x00, 0x00, 0x68};
  EXPECT_EQ(DescribeFrame(read, sizeof read, true),
            "-> seq 1 ch 1 len 7  LDR_READ_MEMORY  | 65 01 00 80 00 00 68");
  const uint8_t reply[] = {0xD0, 0x02, 'g', 0x00};
  EXPECT_EQ(DescribeFrame(reply, sizeof reply, false), "<- seq 3 ch 1 len 2  echo 'g'  | 67 00");
  const uint8_t lying[] = {0x10, 0x05, 'd'};
  EXPECT_EQ(DescribeFrame(lying, sizeof lying, false),
            "<- seq 0 ch 1 len 5 (frame holds 1)  echo 'd'  | 64");
  const uint8_t unknown[] = {0x10, 0x01, 0x7F};
  EXPECT_NE(DescribeFrame(unknown, sizeof unknown, true).find("command 0x7F"), std::string::npos);
  EXPECT_EQ(DescribeFrame(sync, 1, false), "<- short frame of 1 byte(s)");
  std::vector<uint8_t> big(2 + 40, 0xAB);
  big[0] = 0x10;
  big[1] = 40;
  EXPECT_NE(DescribeFrame(big.data(), big.size(), false).find("AB AB ..."), std::string::npos);
}

// ---- Exit statuses ----

TEST(CliExitStatus, OutcomesMapToTheirClass) {
  struct Row {
    FlowOutcome outcome;
    ExitStatus status;
  };
  const Row rows[] = {
      {FlowOutcome::Passed(), EXIT_OK},
      {FlowOutcome::Failed(FlowStage::Form), EXIT_USAGE},
      {FlowOutcome::Failed(FlowStage::Declined), EXIT_DECLINED},
      {FlowOutcome::Failed(FlowStage::Connect, LINK_E_PORT), EXIT_CONNECT},
      {FlowOutcome::Failed(FlowStage::Connect, LDR_E_NOT_IN_LOADER), EXIT_CONNECT},
      {FlowOutcome::Failed(FlowStage::NoProbe), EXIT_CONNECT},
      // A port code in the middle of a run is the probe going away, not a connect failure.
      {FlowOutcome::Failed(FlowStage::FirmwareWrite, LINK_E_PORT), EXIT_COMM},
      {FlowOutcome::Failed(FlowStage::LogicDeviceType), EXIT_COMM},
      {FlowOutcome::Failed(FlowStage::FirmwareFile, LDR_E_FIRMWARE_FILE), EXIT_IMAGE},
      {FlowOutcome::Failed(FlowStage::LogicFile), EXIT_IMAGE},
      {FlowOutcome::Failed(FlowStage::LogicVerify, LDR_E_VERIFY), EXIT_VERIFY},
      {FlowOutcome::Failed(FlowStage::LogicVerify, SESSION_E_NO_REPLY), EXIT_COMM},
      {FlowOutcome::Failed(FlowStage::SetupBlock, LDR_E_VERIFY), EXIT_VERIFY},
      {FlowOutcome::Failed(FlowStage::ConfigFile, SETUP_E_CONFIG_FILE), EXIT_SETUP_FILE},
      {FlowOutcome::Failed(FlowStage::RegisterFile, SETUP_E_REG_FILE), EXIT_SETUP_FILE},
      {FlowOutcome::Failed(FlowStage::None), EXIT_OTHER},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ExitStatusOf(row.outcome), row.status) << StageName(row.outcome.stage);
  }
  EXPECT_EQ(OutcomeLine(FlowOutcome::Failed(FlowStage::FirmwareWrite, LDR_E_PROGRAM), ""),
            "firmware write: the probe reports a programming failure (LDR_E_PROGRAM)");
  EXPECT_EQ(OutcomeLine(FlowOutcome::Failed(FlowStage::NoProbe), ""),
            "probe identification: a loader answered, but reported no Vanta7");
  // A watch reports the worst: a probe left with wrong or half-written data before a bad file or
  // a device that was no probe, whatever their numbers or order.
  EXPECT_EQ(WorseStatus(EXIT_CONNECT, EXIT_COMM), EXIT_COMM);
  EXPECT_EQ(WorseStatus(EXIT_SETUP_FILE, EXIT_VERIFY), EXIT_VERIFY);
  EXPECT_EQ(WorseStatus(EXIT_OTHER, EXIT_IMAGE), EXIT_OTHER);
  EXPECT_EQ(WorseStatus(EXIT_OK, EXIT_CONNECT), EXIT_CONNECT);
}

// ---- Output ----

TEST(CliOutput, HexDumpShowsAddressesBytesAndText) {
  std::vector<uint8_t> bytes = {'V', 'a', 'n', 't', 'a', 0x00, 0xFF, 0x7F, '0',
                                '1', '2', '3', '4', '5', '6',  '7',  0xAA, 0x55};
  EXPECT_EQ(FormatHexDump(0x01008000, bytes),
            "01008000  56 61 6E 74 61 00 FF 7F  30 31 32 33 34 35 36 37  |Vanta...01234567|\n"
            "01008010  AA 55                                             |.U|\n");
  EXPECT_EQ(FormatHexDump(0, {}), "");
}

TEST(CliOutput, TableShowsVersionsBeforeAndAfterAndTheFailure) {
  ProbeResult ok;
  ok.label = "COM1";
  ok.haveBefore = ok.haveAfter = true;
  ok.before.serialNumber = "12345678";
  ok.before.loaderVersion = 0x0101;
  ok.before.firmwareVersion = 4;
  ok.after = ok.before;
  ok.after.firmwareVersion = 5;
  ok.seconds = 12.34;
  ProbeResult failed;
  failed.label = "/dev/pts/9";
  failed.status = EXIT_CONNECT;
  failed.error = "Cannot connect to Vanta loader!";
  std::string table = FormatTable({ok, failed});
  EXPECT_EQ(table,
            "PORT        SERIAL    LOADER   FIRMWARE      LOGIC    TIME    RESULT\n"
            "COM1        12345678  unknown  0.04 -> 0.05  unknown  12.3 s  ok\n"
            "/dev/pts/9  -         -        -             -        0.0 s   FAILED (3) Cannot "
            "connect to Vanta loader!\n");
}

// ---- Hints and image checks ----

// The hint after a failed open, from the reason the real port gave.
std::string HintAfterOpen(const std::string& label) {
  auto port = MakePosixSerialPort();
  EXPECT_EQ(port->OpenPort(label), PortStatus::OpenFailed) << label;
  return PortHint(label, ResolvePortDevice(label), port->LastOpenFailure());
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CliHints, SayWhyThePortCouldNotBeOpenedOrThatNoLoaderAnswered) {
  TempHome home;
  OpenFailure missing;
  missing.fault = OpenFault::NoDevice;
  std::string hint = PortHint("COM7", "/dev/nonexistent-vanta-7", missing);
  EXPECT_TRUE(Has(hint,
                  "the port could not be opened: the device /dev/nonexistent-vanta-7 "
                  "does not exist"))
      << hint;
  EXPECT_TRUE(Has(hint, "ports --map COM7")) << hint;

  std::string error;
  ASSERT_TRUE(MapPort(7, "/dev/nonexistent-vanta-usb", error)) << error;
  hint = HintAfterOpen("COM7");
  EXPECT_TRUE(Has(hint, "COM7 is mapped to /dev/nonexistent-vanta-usb, which does not exist"))
      << hint;

  EXPECT_TRUE(Has(HintAfterOpen("/dev/null"), "/dev/null is not a serial device"));
  WriteText(home.Path() + "/plain", "x");
  EXPECT_TRUE(Has(HintAfterOpen(home.Path() + "/plain"), "is not a serial device"));

  OpenFailure held;
  held.fault = OpenFault::Busy;
  held.holders = {{812, "ModemManager"}};
  hint = PortHint("/dev/ttyUSB0", "/dev/ttyUSB0", held);
  EXPECT_TRUE(Has(hint, "/dev/ttyUSB0 is open in ModemManager (pid 812)")) << hint;
  EXPECT_EQ(PortReasonJson(held).dump(),
            R"({"class":"busy","holders":[{"command":"ModemManager","pid":812}]})");

  hint = PortHint("COM1", "/dev/pts/3", OpenFailure{});
  EXPECT_EQ(hint,
            "the port opened but no loader answered on /dev/pts/3 (check cable, power, speed; "
            "try --trace)");
  EXPECT_EQ(PortReasonJson(OpenFailure{}).dump(), R"({"class":"no-answer"})");
}

TEST(CliHints, PermissionDeniedNamesTheGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens every device; tests/scripts covers it as nobody";
  TempHome home;
  std::string path = home.Path() + "/locked";
  WriteText(path, "x");
  fs::permissions(path, fs::perms::none);
  std::string hint = HintAfterOpen(path);
  EXPECT_NE(hint.find("permission denied"), std::string::npos) << hint;
  EXPECT_NE(hint.find("usermod -aG"), std::string::npos) << hint;
}

// ---- Whole runs against virtual probes ----

struct RunOutput {
  int status = -1;
  std::string out, err;
};

RunOutput RunCliWith(std::vector<std::string> args) {
  args.insert(args.begin(), "vantalink-cli");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  RunOutput output;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  output.status = RunCli(static_cast<int>(args.size()), argv.data());
  output.out = testing::internal::GetCapturedStdout();
  output.err = testing::internal::GetCapturedStderr();
  return output;
}

class CliRun : public ::testing::Test {
 protected:
  sim::VirtualProbe& AddProbe(const std::string& serial = "12345678") {
    sim::ProbeOptions options;
    options.serialNumber = serial;
    probes_.push_back(std::make_unique<sim::VirtualProbe>(options));
    EXPECT_TRUE(probes_.back()->Start());
    return *probes_.back();
  }
  std::string ImageDir() {
    std::string dir = home_.Path() + "/images/";
    fs::create_directories(dir);
    return dir;
  }
  // A firmware image of version in the image dir; returns the flash it must leave.
  test::FirmwareImage AddFirmware(uint8_t version, uint32_t size = 8192) {
    test::FirmwareImage image = MakeFirmware(version, size);
    WriteText(ImageDir() + test::ImageFileName(kFirmwareBase, version), image.text);
    return image;
  }

  TempHome home_;
  std::vector<std::unique_ptr<sim::VirtualProbe>> probes_;
};

TEST_F(CliRun, InfoAsJsonDescribesTheProbeAndLeavesItRunningFirmware) {
  sim::VirtualProbe& probe = AddProbe("87654321");
  probe.InstallFirmwareVersion(5);
  probe.InstallLogicVersion(7);
  AddFirmware(6);
  RunOutput run = RunCliWith({"info", "--port", probe.DevicePath(), "--speed", "115200", "--json",
                              "--image-dir", ImageDir()});
  ASSERT_EQ(run.status, 0) << run.err;
  nlohmann::json info = nlohmann::json::parse(run.out);
  EXPECT_EQ(info["serial"], "87654321");
  EXPECT_EQ(info["mac"], "0A4F19876543");
  EXPECT_EQ(info["firmware"], "0.05");
  EXPECT_EQ(info["logic"], "0.07");
  EXPECT_EQ(info["newestFirmware"], "0.06");
  EXPECT_EQ(info["newestLogic"], "unknown");
  EXPECT_EQ(info["updateAvailable"], true);
  EXPECT_EQ(info["result"], "ok");
  // Leaving as the window does: the probe's firmware was started.
  EXPECT_TRUE(probe.InFirmwareMode());
}

TEST_F(CliRun, ReadMemoryDumpsWhatTheFlashHolds) {
  sim::VirtualProbe& probe = AddProbe();
  std::vector<uint8_t> bytes(1500);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  probe.ProgramFlash(0x01010000, bytes);
  RunOutput run = RunCliWith({"read-memory", "0x01010000", "1500", "--port", probe.DevicePath(),
                              "--json", "--stay-in-loader", "--speed", "57600"});
  ASSERT_EQ(run.status, 0) << run.err;
  nlohmann::json result = nlohmann::json::parse(run.out);
  std::string hex = result["data"];
  ASSERT_EQ(hex.size(), 3000u);
  for (size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(std::stoi(hex.substr(i * 2, 2), nullptr, 16), bytes[i]) << "byte " << i;
  }
  EXPECT_FALSE(probe.InFirmwareMode());  // --stay-in-loader

  // A port given before the positional arguments takes one value and leaves them alone.
  run = RunCliWith(
      {"read-memory", "--port", probe.DevicePath(), "0x01010000", "20", "--stay-in-loader"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, 60),
            FormatHexDump(0x01010000, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20))
                .substr(0, 60));
}

TEST_F(CliRun, TransmitWritesTheBlockAndSaysWhere) {
  sim::VirtualProbe& probe = AddProbe();
  RunOutput run = RunCliWith({"transmit", "--port", probe.DevicePath(), "--ip", "192.168.1.10",
                              "--mask", "255.255.255.0", "--gateway", "192.168.1.1", "--host",
                              "192.168.1.2", "--config", "probe.cfg", "--stay-in-loader"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<uint8_t> block = probe.ReadFlash(SETUP_SECTOR, 34);
  std::vector<uint8_t> expected = {0x0A, 0x4F, 0x19, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0xC0,
                                   0xA8, 0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8,
                                   0x01, 0x01, 0xC0, 0xA8, 0x01, 0x02, 'p',  'r',  'o',
                                   'b',  'e',  '.',  'c',  'f',  'g',  0x00};
  EXPECT_EQ(block, expected);
  EXPECT_NE(run.out.find("setup block of 104 bytes written at 0x01008000"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("configuration sector 0x010C0000 erased"), std::string::npos) << run.out;
}

TEST_F(CliRun, TransmitRefusesAnInvalidAddressBeforeTouchingTheFlash) {
  sim::VirtualProbe& probe = AddProbe();
  probe.ProgramFlash(SETUP_SECTOR, {0x11, 0x22});
  RunOutput run =
      RunCliWith({"transmit", "--port", probe.DevicePath(), "--ip", "1.2.3", "--stay-in-loader"});
  EXPECT_EQ(run.status, EXIT_USAGE);
  EXPECT_NE(run.err.find("Invalid IP address!"), std::string::npos) << run.err;
  EXPECT_EQ(probe.ReadFlash(SETUP_SECTOR, 2), (std::vector<uint8_t>{0x11, 0x22}));
}

// Each row: an address option and a text the window would store as all ones; the command line
// refuses it before the probe is touched, naming both.
TEST_F(CliRun, TransmitRefusesAnAddressThatIsNoDottedQuadAndAFileNameTheBlockCannotHold) {
  sim::VirtualProbe& probe = AddProbe();
  const struct {
    const char* option;
    std::string text;
  } rows[] = {
      {"--gateway", "1.2.3.4.5"},
      {"--mask", "255.255.0"},
      {"--host", "10.0.0.300"},
      {"--ip", "10..1.2"},
      {"--config", std::string(80, 'c') + ".cfg"},
  };
  for (const auto& row : rows) {
    RunOutput run = RunCliWith({"transmit", "--port", probe.DevicePath(), row.option, row.text,
                                "--stay-in-loader", "--json"});
    EXPECT_EQ(run.status, EXIT_USAGE) << row.option;
    EXPECT_NE(run.err.find(std::string(row.option) + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(row.text), std::string::npos) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["error"]["stage"], "options") << run.out;
  }
  EXPECT_TRUE(probe.CommandLog().empty()) << "a refused option must not reach the probe";

  // What is printed is what the probe holds, decoded from the block read back.
  RunOutput run = RunCliWith({"transmit", "--port", probe.DevicePath(), "--ip", "010.001.002.003",
                              "--config", std::string(79, 'n'), "--stay-in-loader"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("verified: IP 10.1.2.3, mask "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("file \"" + std::string(79, 'n') + "\""), std::string::npos) << run.out;
}

TEST_F(CliRun, TransmitWithAMissingConfigurationFileFailsAsSetupFileAndErasesNothing) {
  sim::VirtualProbe& probe = AddProbe();
  probe.ProgramFlash(SETUP_SECTOR, {0x11, 0x22});
  RunOutput run =
      RunCliWith({"transmit", "--port", probe.DevicePath(), "--host", "255.255.255.255", "--config",
                  home_.Path() + "/missing.cfg", "--stay-in-loader", "--json"});
  EXPECT_EQ(run.status, EXIT_SETUP_FILE) << run.err;
  EXPECT_EQ(probe.ReadFlash(SETUP_SECTOR, 2), (std::vector<uint8_t>{0x11, 0x22})) << run.err;
  nlohmann::json results = nlohmann::json::parse(run.out);
  ASSERT_TRUE(results.is_array());
  EXPECT_EQ(results[0]["exitStatus"], EXIT_SETUP_FILE);
}

TEST_F(CliRun, FourProbesAtOnceOneFailingHalfWayDoesNotStopTheOthers) {
  test::FirmwareImage image = AddFirmware(9, 16384);
  for (int i = 0; i < 4; ++i) AddProbe("1000000" + std::to_string(i)).InstallFirmwareVersion(3);
  // The third probe's loader reports a failure at its 200th program write (of about 512).
  probes_[2]->Faults().failProgramAfterWrites = 200;
  std::vector<std::string> args = {"update",  "--firmware-only", "--image-dir", ImageDir(),
                                   "--speed", "115200",          "--json",      "--stay-in-loader"};
  for (auto& probe : probes_) {
    args.push_back("--port");
    args.push_back(probe->DevicePath());
  }
  RunOutput run = RunCliWith(args);
  EXPECT_EQ(run.status, EXIT_COMM) << run.err;
  nlohmann::json results = nlohmann::json::parse(run.out);
  ASSERT_EQ(results.size(), 4u);
  std::vector<uint8_t> expected = test::ExpectedFlash(image);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i]["port"], probes_[i]->DevicePath());
    EXPECT_EQ(results[i]["serial"], "1000000" + std::to_string(i));
    EXPECT_EQ(results[i]["before"]["firmware"], "0.03");
    if (i == 2) {
      EXPECT_EQ(results[i]["result"], "failed");
      EXPECT_EQ(results[i]["exitStatus"], EXIT_COMM);
      EXPECT_EQ(probes_[i]->StoredFirmwareVersion(), 0);  // no marker: no valid firmware
    } else {
      EXPECT_EQ(results[i]["result"], "ok");
      EXPECT_EQ(results[i]["after"]["firmware"], "0.09");
      EXPECT_EQ(probes_[i]->ReadFlash(image.address, static_cast<uint32_t>(expected.size())),
                expected);
    }
  }
}

TEST_F(CliRun, DeviceThatDisappearsMidUpdateEndsTheCommandWithinASecond) {
  AddFirmware(9, 16384);
  sim::VirtualProbe& probe = AddProbe();
  std::atomic<bool> pulled{false};
  std::chrono::steady_clock::time_point pulledAt;
  std::thread unplug([&] {
    const auto start = std::chrono::steady_clock::now();
    while (probe.GetCounters().bytesIn < 6000 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pulledAt = std::chrono::steady_clock::now();
    probe.HangUp();  // the master side closes: the tool's end is hung up
    pulled = true;
  });
  RunOutput run = RunCliWith({"update", "--firmware-only", "--image-dir", ImageDir(), "--port",
                              probe.DevicePath(), "--speed", "115200", "--json"});
  const auto endedAt = std::chrono::steady_clock::now();
  unplug.join();
  ASSERT_TRUE(pulled);
  EXPECT_LT(endedAt - pulledAt, std::chrono::seconds(1));
  EXPECT_EQ(run.status, EXIT_COMM) << run.err;
  nlohmann::json result = nlohmann::json::parse(run.out)[0];
  EXPECT_EQ(result["error"]["message"],
            "the serial device " + probe.DevicePath() + " disappeared (unplugged?)");
  EXPECT_EQ(result["error"]["reason"]["class"], "device-gone");
}

TEST_F(CliRun, VerifyNamesTheFirstDifferingAddressAndFastTheWriteItCouldNotMove) {
  AddFirmware(4, 4096);
  sim::VirtualProbe& probe = AddProbe();
  probe.Faults().corruptProgramWrite = 10;
  RunOutput run =
      RunCliWith({"update", "--firmware-only", "--verify", "--image-dir", ImageDir(), "--port",
                  probe.DevicePath(), "--speed", "115200", "--stay-in-loader"});
  EXPECT_EQ(run.status, EXIT_VERIFY) << run.err;
  EXPECT_NE(run.out.find("Read back differs at 0x0104"), std::string::npos) << run.out;

  // The second kilobyte's writes are never answered: after its tries the update fails there.
  sim::VirtualProbe& lossy = AddProbe();
  lossy.Faults().silentAtAddressCommand = LDR_PROGRAM;
  lossy.Faults().silentAtAddress = FIRMWARE_SECTOR + 0x400;
  lossy.Faults().silentAtAddressCount = 1000;
  run = RunCliWith({"update", "--firmware-only", "--fast", "--image-dir", ImageDir(), "--port",
                    lossy.DevicePath(), "--speed", "115200", "--stay-in-loader", "--json"});
  EXPECT_EQ(run.status, EXIT_COMM) << run.err;
  const nlohmann::json result = nlohmann::json::parse(run.out)[0];
  EXPECT_NE(result["result"], "ok");
  EXPECT_EQ(result["error"]["stage"], "firmware write") << run.out;
  EXPECT_EQ(result["error"]["address"], FIRMWARE_SECTOR + 0x400) << run.out;
  EXPECT_EQ(result["error"]["detail"], "could not write 0x01040400") << run.out;
  EXPECT_EQ(lossy.StoredFirmwareVersion(), 0);
}

TEST_F(CliRun, UpdateWithoutAnImageFailsAsImageFileBeforeConnecting) {
  sim::VirtualProbe& probe = AddProbe();
  RunOutput run = RunCliWith(
      {"update", "--firmware-only", "--image-dir", ImageDir(), "--port", probe.DevicePath()});
  EXPECT_EQ(run.status, EXIT_IMAGE);
  EXPECT_NE(run.err.find("no firmware image VT7PP4FW.nnn"), std::string::npos) << run.err;
  EXPECT_TRUE(probe.CommandLog().empty());
}

TEST_F(CliRun, InfoWithoutImageFilesSaysThatNoneWereFoundAndWhere) {
  sim::VirtualProbe& probe = AddProbe();
  probe.InstallFirmwareVersion(5);
  RunOutput run = RunCliWith(
      {"info", "--port", probe.DevicePath(), "--image-dir", ImageDir(), "--stay-in-loader"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Update:    not possible: no image files (VT7PP4FW.nnn, PP4JEDK0.nnn) "
                         "found in " +
                         ImageDir()),
            std::string::npos)
      << run.out;
  run = RunCliWith({"info", "--port", probe.DevicePath(), "--image-dir", ImageDir(),
                    "--stay-in-loader", "--json"});
  const nlohmann::json info = nlohmann::json::parse(run.out);
  EXPECT_EQ(info["updateAvailable"], false);
  EXPECT_EQ(info["imageDirs"][0], ImageDir());
}

// Each row: a refusal before any probe is touched; under --json it prints the error object.
TEST_F(CliRun, EveryRefusalBeforeAProbeIsTouchedPrintsTheErrorObject) {
  sim::VirtualProbe& probe = AddProbe();
  const std::string bad = home_.Path() + "/bad.s19";
  WriteText(bad, "S0050000414277\nS3090100800411223344C8\nS70500000000FA\n");
  const struct {
    std::vector<std::string> args;
    ExitStatus status;
    const char* stage;
    const char* said;  // on standard error
  } rows[] = {
      {{"erase"}, EXIT_DECLINED, "erase confirmation", "erase refused"},
      {{"restore", bad}, EXIT_IMAGE, "restore file", "bad.s19 line 2: checksum mismatch"},
      {{"info", "--speed", "1234"}, EXIT_USAGE, "options", "--speed"},
      {{"backup", home_.Path() + "/missing/dir/x.s19"},
       EXIT_OTHER,
       "backup file",
       "missing/dir/x.s19"},
      {{"backup", "x.s19", "--range", "0x01008000:0"},
       EXIT_USAGE,
       "options",
       "LEN must be at least 1 byte"},
      {{"inof"}, EXIT_USAGE, "options", "unknown command 'inof'; the commands are: link-check, "},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    for (const char* extra : {"--port", "", "--json"}) args.push_back(extra);
    args[args.size() - 2] = probe.DevicePath();
    if (row.args[0] == "erase" && isatty(STDIN_FILENO)) continue;
    RunOutput run = RunCliWith(args);
    SCOPED_TRACE(row.args[0]);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["result"], "failed");
    EXPECT_EQ(j["exitStatus"], row.status);
    ASSERT_TRUE(j["error"].is_object()) << run.out;
    EXPECT_EQ(j["error"]["stage"], row.stage) << run.out;
    EXPECT_TRUE(j["error"]["message"].is_string()) << run.out;
    EXPECT_TRUE(j["error"].contains("code") && j["error"].contains("name")) << run.out;
  }
  EXPECT_TRUE(probe.CommandLog().empty()) << "a refusal must not reach the probe";
}

TEST_F(CliRun, EraseWithoutYesRefusesWhenStdinIsNoTerminal) {
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "standard input is a terminal here";
  sim::VirtualProbe& probe = AddProbe();
  probe.InstallFirmwareVersion(5);
  RunOutput run = RunCliWith({"erase", "--port", probe.DevicePath()});
  EXPECT_EQ(run.status, EXIT_DECLINED);
  EXPECT_TRUE(probe.CommandLog().empty());
  EXPECT_EQ(probe.StoredFirmwareVersion(), 0x1605);

  run = RunCliWith({"erase", "--yes", "--port", probe.DevicePath(), "--stay-in-loader"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(probe.StoredFirmwareVersion(), 0);
}

TEST_F(CliRun, BackupEraseRestoreGivesTheSameFlashByteForByte) {
  sim::VirtualProbe& probe = AddProbe();
  probe.InstallFirmwareVersion(5);
  std::vector<uint8_t> bytes(3000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  for (uint32_t address : kAllSectors) probe.ProgramFlash(address + 0x100, bytes);
  const std::vector<uint8_t> before = probe.ReadFlash(0x01000000, 0x100000);
  const std::string file = home_.Path() + "/probe.s19";

  const mode_t umaskBefore = umask(022);
  RunOutput run = RunCliWith(
      {"backup", file, "--port", probe.DevicePath(), "--speed", "115200", "--stay-in-loader"});
  umask(umaskBefore);
  ASSERT_EQ(run.status, 0) << run.err;
  // A new file as any other the user makes: its mode from the umask.
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
  std::ifstream in(file);
  std::string first, line, last;
  std::getline(in, first);
  while (std::getline(in, line)) last = line;
  // S0 carries "vantaLink backup serial 12345678 loader 1.02 ..." in hex.
  EXPECT_NE(first.find("2073657269616C20313233343536373820"), std::string::npos) << first;
  EXPECT_NE(first.find("6C6F6164657220312E3032"), std::string::npos) << first;
  EXPECT_EQ(last, "S70500000000FA");
  int files = 0;  // the temporary file was renamed, not left beside
  for (const auto& entry : fs::directory_iterator(home_.Path())) {
    files += entry.path().filename().string().rfind("probe.s19", 0) == 0;
  }
  EXPECT_EQ(files, 1);

  ASSERT_EQ(RunCliWith({"erase", "--yes", "--port", probe.DevicePath(), "--stay-in-loader"}).status,
            0);
  ASSERT_NE(probe.ReadFlash(0x01000000, 0x100000), before);
  run = RunCliWith(
      {"restore", file, "--port", probe.DevicePath(), "--speed", "115200", "--stay-in-loader"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(probe.ReadFlash(0x01000000, 0x100000) == before);
  EXPECT_EQ(probe.StoredFirmwareVersion(), 0x1605);

  // Writes that are never answered end the restore failed at the address they could not move,
  // and the firmware stays unmarked.
  probe.Faults().silentAtAddressCommand = LDR_PROGRAM;
  probe.Faults().silentAtAddress = SETUP_SECTOR + 0x100;
  probe.Faults().silentAtAddressCount = 1000;
  run = RunCliWith({"restore", file, "--port", probe.DevicePath(), "--speed", "115200", "--json",
                    "--stay-in-loader"});
  EXPECT_EQ(run.status, EXIT_COMM) << run.err;
  const nlohmann::json error = nlohmann::json::parse(run.out)["error"];
  EXPECT_EQ(error["stage"], "flash write") << run.out;
  EXPECT_EQ(error["address"], SETUP_SECTOR + 0x100) << run.out;
  EXPECT_EQ(probe.StoredFirmwareVersion(), 0);
}

// Each row: a line that spoils an otherwise good file, the line's number in the message.
TEST_F(CliRun, RestoreRefusesABadFileBeforeTheProbeIsTouched) {
  sim::VirtualProbe& probe = AddProbe();
  probe.InstallFirmwareVersion(5);
  probe.ProgramFlash(SETUP_SECTOR + 0x100, {0x55});
  const std::vector<uint8_t> before = probe.ReadFlash(0x01000000, 0x100000);
  const std::string good = "S3090100800011223344CB\n";
  const struct {
    const char* record;
    const char* why;
  } rows[] = {
      {"S30901007FFC11223344D0", "in the loader's sector"},
      {"S3090100800411223344C8", "checksum mismatch"},
      {"S30901100000112233443B", "outside the flash"},
      {"S309010080041122334GC7", "not a hex digit"},
      {"S3080100800411223344C7", "count does not match"},
      {"S3090100800255667788B9", "0x01008002 other bytes than an earlier line"},
  };
  const std::string file = home_.Path() + "/bad.s19";
  for (const auto& row : rows) {
    WriteText(file, "S0050000414277\n" + good + row.record + "\nS70500000000FA\n");
    RunOutput run = RunCliWith({"restore", file, "--port", probe.DevicePath(), "--json"});
    EXPECT_EQ(run.status, EXIT_IMAGE) << row.record;
    EXPECT_NE(run.err.find("bad.s19 line 3: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(row.why), std::string::npos) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["line"], 3) << run.out;
  }
  // Cut short at a record boundary: every backup ends with its S7.
  WriteText(file, "S0050000414277\n" + good);
  RunOutput run = RunCliWith({"restore", file, "--port", probe.DevicePath()});
  EXPECT_EQ(run.status, EXIT_IMAGE);
  EXPECT_NE(run.err.find("bad.s19 line 2: the file ends without an S7"), std::string::npos)
      << run.err;
  EXPECT_TRUE(probe.CommandLog().empty()) << "a refused file must not reach the probe";
  // A header naming no probe is taken only on request; a record given twice alike is harmless.
  WriteText(file, "S0050000414277\n" + good + "S307010080023344FE\nS70500000000FA\n");
  run = RunCliWith({"restore", file, "--port", probe.DevicePath(), "--stay-in-loader"});
  EXPECT_EQ(run.status, EXIT_USAGE);
  EXPECT_NE(run.err.find("bad.s19 names no probe serial number"), std::string::npos) << run.err;
  EXPECT_TRUE(probe.ReadFlash(0x01000000, 0x100000) == before) << "refused: nothing erased";
  ASSERT_EQ(RunCliWith({"restore", file, "--port", probe.DevicePath(), "--stay-in-loader",
                        "--other-probe"})
                .status,
            0);
  std::vector<uint8_t> expected = before;  // 0x55 at 0x01008100 kept beside the file's bytes
  expected[0x8000] = 0x11, expected[0x8001] = 0x22, expected[0x8002] = 0x33;
  expected[0x8003] = 0x44;
  EXPECT_TRUE(probe.ReadFlash(0x01000000, 0x100000) == expected)
      << "the file's bytes written, the rest of its sector and the firmware kept";
}

TEST_F(CliRun, SetupShowReadsBackWhatTransmitWroteStandAloneConfigurationIncluded) {
  sim::VirtualProbe& probe = AddProbe();
  const std::string port = probe.DevicePath();
  auto show = [&](std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"setup", "show", "--port", port, "--json", "--stay-in-loader"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunOutput run = RunCliWith(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return nlohmann::json::parse(run.out);
  };
  EXPECT_EQ(show()["setupBlock"]["state"], "erased");
  probe.ProgramFlash(SETUP_SECTOR, {0x0A, 0x4F, 0x19, 0x12, 0x34, 0x56, 0x00});
  nlohmann::json malformed = show()["setupBlock"];
  EXPECT_EQ(malformed["state"], "malformed");
  EXPECT_EQ(malformed["problem"], "bytes 6 and 7 are not FF FF");

  // A configuration with two register files, stored in the probe.
  const std::string dir = home_.Path() + "/cfg/";
  fs::create_directories(dir);
  const std::string config = "; probe\n[TARGET]\nCPU 405\n[REGS]\nFILE $a.def\n#3 FILE $b.def\n";
  WriteText(dir + "probe.cfg", config);
  WriteText(dir + "a.def", "REG A 0x10\n");
  WriteText(dir + "b.def", "REG B 0x20\nREG C 0x30\n");
  RunOutput transmit =
      RunCliWith({"transmit", "--port", port, "--ip", "10.0.0.7", "--mask", "255.0.0.0",
                  "--gateway", "10.0.0.1", "--host", "255.255.255.255", "--config",
                  dir + "probe.cfg", "--json", "--stay-in-loader"});
  ASSERT_EQ(transmit.status, 0) << transmit.err;
  const nlohmann::json written = nlohmann::json::parse(transmit.out)[0];

  const std::string out = home_.Path() + "/out/";
  fs::create_directories(out);
  const mode_t umaskBefore = umask(027);
  const nlohmann::json shown = show({"--extract", out});
  umask(umaskBefore);
  EXPECT_EQ(fs::status(out + "probe.cfg").permissions(), fs::perms(0640));
  const nlohmann::json& block = shown["setupBlock"];
  EXPECT_EQ(block["state"], "valid");
  EXPECT_EQ(block["mac"], "0A4F19123456");
  for (const char* key : {"probeIp", "subnetMask", "gateway", "configHost", "configFile"}) {
    EXPECT_EQ(block[key], written[key]) << key;
  }
  EXPECT_EQ(shown["configImage"]["bytes"], config.size());
  EXPECT_EQ(shown["configImage"]["firstLines"][2], "CPU 405");
  const nlohmann::json& records = shown["registerImage"]["records"];
  ASSERT_EQ(records.size(), 2u) << shown.dump();
  EXPECT_EQ(records[0]["tag"], "0x80");
  EXPECT_EQ(records[0]["bytes"], 11);
  EXPECT_EQ(records[0]["name"], "$a.def");
  EXPECT_EQ(records[1]["tag"], "0x83");
  EXPECT_EQ(records[1]["bytes"], 22);
  EXPECT_EQ(shown["registerImage"]["bytes"], written["registerImage"]["bytes"]);
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read(out + "probe.cfg"), config);
  EXPECT_EQ(read(out + "a.def"), "REG A 0x10\n");
  EXPECT_EQ(read(out + "b.def"), "REG B 0x20\nREG C 0x30\n");
}

TEST_F(CliRun, NoProbeOnTheDeviceIsAConnectFailureWithAHint) {
  RunOutput run = RunCliWith({"info", "--port", "COM19"});
  EXPECT_EQ(run.status, EXIT_CONNECT);
  EXPECT_NE(run.err.find("Cannot connect to Vanta loader!"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("hint: the port could not be opened: the device /dev/ttyS18 does not "
                         "exist"),
            std::string::npos)
      << run.err;
}

// Shows every text reworded, as a translated window would.
class RewordingView : public test::RecordingView {
 public:
  void SetStatus(const std::string& text) override { RecordingView::SetStatus("<" + text + ">"); }
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    return RecordingView::ShowMessage("[" + text + "]", caption, icon, buttons);
  }
};

TEST_F(CliRun, RewordedTextsChangeNoExitStatus) {
  test::FirmwareImage good = AddFirmware(4, 2048);
  std::string bad = good.text;
  bad.insert(bad.find('\n') + 1, "S1130000BAD\n");
  WriteText(ImageDir() + test::ImageFileName(kFirmwareBase, 5), bad);

  // Each flow of the window, ending in a different class, on a probe of its own.
  auto statusesShownThrough = [this](test::RecordingView& view) {
    sim::VirtualProbe& probe = AddProbe();
    probe.Faults().corruptProgramWrite = 3;
    std::string error;
    EXPECT_TRUE(MapPort(1, probe.DevicePath(), error)) << error;
    DialogController controller(view, ImageDirectories{ImageDir()});
    DialogFields& fields = controller.Fields();
    ControlValues& form = view.controls;  // what the user typed
    form.speedIndex = 4;
    form.setup.subnetMaskText = form.setup.gatewayText = "255.255.255.0";
    form.setup.configHostText = "255.255.255.255";
    form.setup.configFileText = home_.Path() + "/missing.cfg";
    std::vector<ExitStatus> statuses;
    auto record = [&statuses](const FlowOutcome& outcome) {
      statuses.push_back(ExitStatusOf(outcome));
    };
    form.setup.probeIpText = "1.2.3";
    record(controller.OnConnect());
    form.setup.probeIpText = "192.168.1.10";
    form.portIndex = 18;  // COM19: nothing there
    record(controller.OnConnect());
    form.portIndex = 0;
    record(controller.OnConnect());
    fields.newestLogicVersion = fields.identity.logicVersion;
    fields.newestFirmwareVersion = 5;
    record(controller.OnUpdate());
    fields.newestFirmwareVersion = 4;
    controller.Firmware().verifyReadBack = true;
    record(controller.OnUpdate());
    view.answers.push_back(MessageAnswer::No);
    record(controller.OnErase());
    record(controller.OnTransmit());
    controller.OnCancel();
    UnmapPort(1);
    return statuses;
  };
  test::RecordingView plain;
  RewordingView reworded;
  const std::vector<ExitStatus> expected = {EXIT_USAGE,  EXIT_CONNECT,  EXIT_OK,        EXIT_IMAGE,
                                            EXIT_VERIFY, EXIT_DECLINED, EXIT_SETUP_FILE};
  EXPECT_EQ(statusesShownThrough(plain), expected);
  EXPECT_EQ(statusesShownThrough(reworded), expected);
  EXPECT_NE(plain.statuses, reworded.statuses);
  EXPECT_NE(plain.MessageTexts(), reworded.MessageTexts());
}

TEST_F(CliRun, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunCliWith({"info", "--speed", "1234"}).status, EXIT_USAGE);
  EXPECT_EQ(RunCliWith({"info", "--port", "ttyUSB0"}).status, EXIT_USAGE);
  EXPECT_EQ(RunCliWith({"info", "--ports", "COM1,COM1"}).status, EXIT_USAGE);
  EXPECT_EQ(RunCliWith({"read-memory", "0x100", "0"}).status, EXIT_USAGE);
  EXPECT_EQ(RunCliWith({"read-memory", "0xFFFFFFFF", "2"}).status, EXIT_USAGE);
  EXPECT_EQ(RunCliWith({"info", "--no-such-option"}).status, EXIT_USAGE);
  EXPECT_EQ(RunCliWith({}).status, EXIT_USAGE);
  RunOutput help = RunCliWith({"update", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("NAME\n    vantalink-cli update - "), std::string::npos);
  EXPECT_NE(help.out.find("EXAMPLES"), std::string::npos);
  EXPECT_NE(help.out.find("--firmware-only"), std::string::npos);
}

}  // namespace
}  // namespace vanta::cli
