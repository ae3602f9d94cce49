// The window's flows end to end: the controller with the recording view, its link on COM1 mapped
// to the virtual probe's pseudo-terminal, image files in a temporary directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dialog/dialog_controller.h"
#include "link/loader.h"
#include "platform/ports.h"
#include "sim/virtual_probe.h"
#include "tests/support/recording_view.h"

namespace vanta {
namespace {

namespace fs = std::filesystem;
using test::RecordingView;

// A temporary directory, removed again.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vanta-flows-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class DialogFlows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(config_.Path().empty());
    ASSERT_FALSE(images_.Path().empty());
    // Port links go to a private configuration directory, never the user's own.
    const char* old = getenv("XDG_CONFIG_HOME");
    if (old != nullptr) oldConfigHome_ = old, hadConfigHome_ = true;
    setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
  }
  void TearDown() override {
    controller_.reset();
    if (probe_) probe_->Stop();
    if (hadConfigHome_)
      setenv("XDG_CONFIG_HOME", oldConfigHome_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }

  // Loader version 102 shows as "1.02"; serial 12345678.
  static sim::ProbeOptions Options() {
    sim::ProbeOptions options;
    options.loaderVersion = 102;
    options.serialNumber = "12345678";
    return options;
  }

  // Starts a probe as COM1.
  void StartProbe(const sim::ProbeOptions& options = Options()) {
    probe_ = std::make_unique<sim::VirtualProbe>(options);
    ASSERT_TRUE(probe_->Start());
    std::string error;
    ASSERT_TRUE(MapPort(1, probe_->DevicePath(), error)) << error;
  }

  void PutImage(const std::string& base, int version) {
    char name[32];
    snprintf(name, sizeof name, "%s.%03d", base.c_str(), version);
    std::ofstream(images_.Path() + "/" + name) << "S9030000FC\n";
  }

  // A controller over the host's ports, opened with valid fields on COM1 at 115200 bit/s.
  void Open() {
    controller_ = std::make_unique<DialogController>(view_, ImageDirectories{images_.Path()});
    DialogFields& f = controller_->Fields();
    f.portIndex = 0;
    f.speedIndex = 4;
    f.setup.probeIpText = "192.168.1.10";
    f.setup.subnetMaskText = "255.255.255.0";
    f.setup.gatewayText = "192.168.1.1";
    f.setup.configHostText = "192.168.1.2";
    f.setup.configFileText = "";
    controller_->OnOpen();
  }

  void Connect() {
    controller_->OnConnect();
    ASSERT_EQ(view_.status, "Connecting to Vanta Loader passed!") << view_.MessageTexts().size();
  }

  TempDir config_;
  TempDir images_;
  std::string oldConfigHome_;
  bool hadConfigHome_ = false;
  std::unique_ptr<sim::VirtualProbe> probe_;
  RecordingView view_;
  std::unique_ptr<DialogController> controller_;
};

TEST_F(DialogFlows, ConnectShowsVersionsSerialAndMacAndUnlocksTheButtons) {
  StartProbe();
  probe_->InstallFirmwareVersion(5);
  probe_->InstallLogicVersion(7);
  Open();
  Connect();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.labels[VersionLabel::Loader], "1.02");
  EXPECT_EQ(view_.labels[VersionLabel::Firmware], "0.05");
  EXPECT_EQ(view_.labels[VersionLabel::Logic], "0.07");
  EXPECT_EQ(view_.controls.serialNumber, "12345678");
  EXPECT_EQ(view_.controls.macAddressText, "0A4F19123456");
  EXPECT_FALSE(view_.Enabled(FlowButton::Connect));
  EXPECT_TRUE(view_.Enabled(FlowButton::Current));
  EXPECT_TRUE(view_.Enabled(FlowButton::Erase));
  EXPECT_TRUE(view_.Enabled(FlowButton::Transmit));
  EXPECT_TRUE(view_.Enabled(FlowButton::Update));  // no images on disk, probe has versions
  EXPECT_TRUE(controller_->Link().IsOpen());
  EXPECT_EQ(view_.waitDepth, 0);
}

TEST_F(DialogFlows, TenCharacterSerialGivesItsFirstSixInTheMac) {
  sim::ProbeOptions options = Options();
  options.serialNumber = "987654321C";
  StartProbe(options);
  Open();
  Connect();
  EXPECT_EQ(view_.controls.serialNumber, "987654321C");
  EXPECT_EQ(view_.controls.macAddressText, "0A4F19987654");
}

// Update rule: images on disk (0 = none) against the probe's versions.
struct UpdateCase {
  const char* name;
  int diskFirmware, diskLogic, probeFirmware, probeLogic;
  bool updateEnabled;
};

class UpdateRule : public DialogFlows, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateRule, AfterConnect) {
  const UpdateCase& c = GetParam();
  StartProbe();
  if (c.probeFirmware) probe_->InstallFirmwareVersion(static_cast<uint8_t>(c.probeFirmware));
  if (c.probeLogic) probe_->InstallLogicVersion(static_cast<uint16_t>(c.probeLogic));
  if (c.diskFirmware) PutImage("VT7PP4FW", c.diskFirmware);
  if (c.diskLogic) PutImage("PP4JEDK0", c.diskLogic);
  Open();
  Connect();
  EXPECT_EQ(view_.Enabled(FlowButton::Update), c.updateEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, UpdateRule,
    ::testing::Values(UpdateCase{"OlderImages", 4, 6, 5, 7, true},
                      UpdateCase{"NewerImages", 6, 8, 5, 7, true},
                      UpdateCase{"EqualImages", 5, 7, 5, 7, false},
                      UpdateCase{"OnlyFirmwareNewer", 6, 7, 5, 7, true},
                      UpdateCase{"OnlyLogicOlder", 5, 6, 5, 7, true},
                      UpdateCase{"NoImagesEmptyProbe", 0, 0, 0, 0, false},
                      UpdateCase{"NoImagesProbeWithFirmware", 0, 0, 5, 0, true}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return info.param.name; });

TEST_F(DialogFlows, IdentityReplyOfWrongLengthIsNoVanta7) {
  StartProbe();
  probe_->InstallFirmwareVersion(5);
  probe_->Faults().wrongLengthCommand = LDR_IDENTIFY;  // 16 bytes instead of 15
  Open();
  controller_->OnConnect();
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"There is no Vanta7 connected!"});
  EXPECT_EQ(view_.messages[0].waitDepth, 0);
  EXPECT_EQ(view_.status, "Connecting to Vanta loader failed!");
  EXPECT_EQ(view_.labels[VersionLabel::Loader], "unknown");
  EXPECT_EQ(view_.labels[VersionLabel::Firmware], "unknown");
  EXPECT_EQ(view_.labels[VersionLabel::Logic], "unknown");
  EXPECT_FALSE(controller_->Link().IsOpen());
  EXPECT_TRUE(view_.Enabled(FlowButton::Connect));
  EXPECT_FALSE(view_.Enabled(FlowButton::Current));
  EXPECT_FALSE(view_.Enabled(FlowButton::Transmit));
}

TEST_F(DialogFlows, ConnectToAMissingDeviceFailsFast) {
  std::string error;
  ASSERT_TRUE(MapPort(1, config_.Path() + "/no-such-tty", error)) << error;
  Open();
  const auto start = std::chrono::steady_clock::now();
  controller_->OnConnect();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Cannot connect to Vanta loader!"});
  EXPECT_EQ(view_.status, "Connecting to Vanta loader failed!");
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(view_.Enabled(FlowButton::Connect));
}

TEST_F(DialogFlows, ConnectWithEmptyProbeIpSendsNothing) {
  StartProbe();
  Open();
  view_.controls.setup.probeIpText = "";
  controller_->OnConnect();
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Invalid IP address!"});
  EXPECT_EQ(probe_->GetCounters().bytesIn, 0u);
}

TEST_F(DialogFlows, CurrentRereadsTheIdentityAndUndoesUnsavedEdits) {
  StartProbe();
  probe_->InstallFirmwareVersion(5);
  probe_->InstallLogicVersion(7);
  PutImage("VT7PP4FW", 6);
  PutImage("PP4JEDK0", 7);
  Open();
  Connect();
  EXPECT_TRUE(view_.Enabled(FlowButton::Update));

  probe_->InstallFirmwareVersion(6);  // as if updated behind the window's back
  view_.controls.setup.gatewayText = "typed but not saved";
  controller_->OnCurrent();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.status, "Reading current versions passed!");
  EXPECT_EQ(view_.labels[VersionLabel::Firmware], "0.06");
  EXPECT_FALSE(view_.Enabled(FlowButton::Update));
  EXPECT_EQ(view_.controls.setup.gatewayText, "192.168.1.1");
  EXPECT_TRUE(view_.Enabled(FlowButton::Current));
}

TEST_F(DialogFlows, CurrentAfterHangUpFailsAndLeavesTheButtons) {
  StartProbe();
  Open();
  Connect();
  const auto buttons = view_.buttons;
  const int loads = view_.loads;
  probe_->HangUp();
  controller_->OnCurrent();
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Communication with Vanta failed!"});
  EXPECT_EQ(view_.messages[0].waitDepth, 0);
  EXPECT_EQ(view_.status, "Reading current versions failed!");
  EXPECT_EQ(view_.buttons, buttons);
  EXPECT_EQ(view_.loads, loads);
}

TEST_F(DialogFlows, OkStartsTheFirmwareClosesTheLinkAndSaves) {
  StartProbe();
  Open();
  Connect();
  view_.controls.setup.configFileText = "probe.cfg";
  EXPECT_TRUE(controller_->OnOk());
  EXPECT_FALSE(controller_->Link().IsOpen());
  EXPECT_TRUE(probe_->InFirmwareMode());
  EXPECT_EQ(controller_->Fields().setup.configFileText, "probe.cfg");
}

TEST_F(DialogFlows, OkWithInvalidIpHasAlreadyClosedTheLinkAndTransmitThenFails) {
  StartProbe();
  Open();
  Connect();
  view_.controls.setup.probeIpText = "1.2.3";
  EXPECT_FALSE(controller_->OnOk());
  EXPECT_FALSE(controller_->Link().IsOpen());
  EXPECT_TRUE(probe_->InFirmwareMode());
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Invalid IP address!"});
  EXPECT_EQ(view_.focused, std::vector<EditField>{EditField::ConfigFile});
  EXPECT_TRUE(view_.Enabled(FlowButton::Transmit));  // buttons keep their states

  const std::vector<uint8_t> before = probe_->ReadFlash(SETUP_SECTOR, 104);
  view_.messages.clear();
  view_.controls.setup.probeIpText = "192.168.1.10";
  controller_->OnTransmit();
  EXPECT_EQ(view_.status, "Writing setup data failed!");
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Transfer failed!"});
  EXPECT_EQ(probe_->ReadFlash(SETUP_SECTOR, 104), before);
}

TEST_F(DialogFlows, CancelStartsTheFirmwareAndClosesTheLink) {
  StartProbe();
  Open();
  Connect();
  controller_->OnCancel();
  EXPECT_FALSE(controller_->Link().IsOpen());
  EXPECT_TRUE(probe_->InFirmwareMode());
  EXPECT_EQ(view_.status, "Starting firmware please wait....");
}

TEST_F(DialogFlows, TransmitWritesTheSetupBlock) {
  StartProbe();
  Open();
  Connect();
  controller_->OnTransmit();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.status, "Writing setup data passed");
  const std::vector<uint8_t> block = probe_->ReadFlash(SETUP_SECTOR, 25);
  const std::vector<uint8_t> expected = {0x0A, 0x4F, 0x19, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0xC0,
                                         0xA8, 0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8,
                                         0x01, 0x01, 0xC0, 0xA8, 0x01, 0x02, 0x00};
  EXPECT_EQ(block, expected);
}

}  // namespace
}  // namespace vanta
