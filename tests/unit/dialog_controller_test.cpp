// The dialog's flows over a scripted port: opening, leaving, and the paths that need no probe.
#include "dialog/dialog_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dialog/settings.h"
#include "tests/support/fake_port.h"
#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"

namespace vanta {
namespace {

namespace fs = std::filesystem;
using test::FakeClock;
using test::FakePort;
using test::RecordingView;

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.Path().empty());
    imageDir_ = temp_.Path().substr(0, temp_.Path().size() - 1);
    auto port = std::make_unique<FakePort>(clock_);
    port_ = port.get();
    port_->openResult = PortStatus::OpenFailed;
    controller_ = std::make_unique<DialogController>(
        view_, std::make_unique<ProbeLink>(std::move(port), clock_), ImageDirectories{imageDir_});
    DialogFields& f = controller_->Fields();
    f.portIndex = 0;
    f.speedIndex = 0;
    f.setup = DefaultSetupTexts();  // as start-up leaves them on a first run
  }

  void Touch(const std::string& name) { std::ofstream(imageDir_ + "/" + name) << "S9030000FC\n"; }

  test::ImageTempDir temp_;  // removed with the fixture
  FakeClock clock_;
  FakePort* port_ = nullptr;
  RecordingView view_;
  std::string imageDir_;
  std::unique_ptr<DialogController> controller_;
};

TEST_F(ControllerTest, OpenShowsNewestImagesAndEnablesOnlyConnect) {
  Touch("VT7PP4FW.099");
  Touch("VT7PP4FW.105");
  Touch("PP4JEDK0.007");
  Touch("PP4JEDK1.009");  // the other board's logic does not count here
  Touch("VT7PP4FW.10");   // not three digits
  controller_->Fields().identity.loaderVersion = 7;

  controller_->OnOpen();
  EXPECT_EQ(view_.loads, 1);
  EXPECT_EQ(view_.controls.setup.probeIpText, "111.111.111.111");
  EXPECT_EQ(view_.controls.serialNumber, "");
  EXPECT_EQ(view_.status, "");
  EXPECT_EQ(controller_->Fields().identity.loaderVersion, 0);
  EXPECT_EQ(controller_->Fields().newestFirmwareVersion, 105);
  EXPECT_EQ(controller_->Fields().newestLogicVersion, 7);
  EXPECT_EQ(view_.labels[VersionLabel::NewestFirmware], "1.05");
  EXPECT_EQ(view_.labels[VersionLabel::NewestLogic], "0.07");
  EXPECT_TRUE(view_.Enabled(FlowButton::Connect));
  for (FlowButton b :
       {FlowButton::Current, FlowButton::Transmit, FlowButton::Update, FlowButton::Erase}) {
    ASSERT_EQ(view_.buttons.count(b), 1u);
    EXPECT_FALSE(view_.buttons[b]);
  }
}

TEST_F(ControllerTest, OpenWithoutImagesShowsUnknown) {
  controller_->OnOpen();
  EXPECT_EQ(view_.labels[VersionLabel::NewestFirmware], "unknown");
  EXPECT_EQ(view_.labels[VersionLabel::NewestLogic], "unknown");
}

TEST_F(ControllerTest, ConnectWithoutProbeMakesTenAttemptsThenFails) {
  controller_->OnOpen();
  view_.controls.portIndex = 4;
  controller_->OnConnect();
  EXPECT_EQ(port_->opens, 10);
  EXPECT_EQ(controller_->Fields().portIndex, 4);  // the save exchange came first
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Cannot connect to Vanta loader!"});
  EXPECT_EQ(view_.messages[0].waitDepth, 0);
  EXPECT_EQ(view_.status, "Connecting to Vanta loader failed!");
  const std::vector<std::string> statuses = {"", "Connecting to Vanta Loader ...",
                                             "Connecting to Vanta loader failed!"};
  EXPECT_EQ(view_.statuses, statuses);
  EXPECT_TRUE(view_.Enabled(FlowButton::Connect));
  EXPECT_FALSE(view_.Enabled(FlowButton::Current));
  EXPECT_FALSE(controller_->Link().IsOpen());
  EXPECT_EQ(view_.waitDepth, 0);
  EXPECT_FALSE(view_.unbalancedWait);
}

TEST_F(ControllerTest, ConnectWithInvalidProbeIpMakesNoAttempt) {
  controller_->OnOpen();
  view_.controls.setup.probeIpText = "";
  controller_->OnConnect();
  EXPECT_EQ(port_->opens, 0);
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Invalid IP address!"});
  EXPECT_EQ(view_.focused, std::vector<EditField>{EditField::ConfigFile});
  EXPECT_EQ(view_.status, "");  // unchanged
  EXPECT_EQ(view_.maxWaitDepth, 0);
}

TEST_F(ControllerTest, OkWithoutLinkSendsNothingAndEndsAfterAValidSave) {
  controller_->OnOpen();
  view_.controls.setup.configFileText = "new.cfg";
  EXPECT_TRUE(controller_->OnOk());
  EXPECT_TRUE(port_->writes.empty());
  EXPECT_EQ(view_.status, "Starting firmware please wait....");
  EXPECT_EQ(view_.maxWaitDepth, 1);
  EXPECT_EQ(view_.waitDepth, 0);
  EXPECT_EQ(controller_->Fields().setup.configFileText, "new.cfg");
}

TEST_F(ControllerTest, OkWithInvalidProbeIpStaysOpenWithFocusOnTheFileField) {
  controller_->OnOpen();
  view_.controls.setup.probeIpText = "256.1.1.1";
  EXPECT_FALSE(controller_->OnOk());
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Invalid IP address!"});
  EXPECT_EQ(view_.messages[0].waitDepth, 0);  // the cursor ended before the exchange
  EXPECT_EQ(view_.focused, std::vector<EditField>{EditField::ConfigFile});
}

TEST_F(ControllerTest, CancelTakesNothingFromTheControls) {
  controller_->OnOpen();
  view_.controls.setup.probeIpText = "1.2.3";
  view_.controls.setup.configFileText = "typed.cfg";
  controller_->OnCancel();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.status, "Starting firmware please wait....");
  EXPECT_EQ(controller_->Fields().setup.probeIpText, "111.111.111.111");
  EXPECT_EQ(controller_->Fields().setup.configFileText, "");
  EXPECT_EQ(view_.waitDepth, 0);
}

TEST_F(ControllerTest, CurrentWithoutLinkFailsAndLeavesTheButtons) {
  controller_->OnOpen();
  const auto buttonsBefore = view_.buttons;
  controller_->OnCurrent();
  EXPECT_EQ(view_.MessageTexts(), std::vector<std::string>{"Communication with Vanta failed!"});
  EXPECT_EQ(view_.messages[0].waitDepth, 0);
  EXPECT_EQ(view_.status, "Reading current versions failed!");
  EXPECT_EQ(view_.buttons, buttonsBefore);
  EXPECT_EQ(view_.loads, 1);  // no load exchange after a failed read
  EXPECT_EQ(controller_->Fields().macAddressText, "0A4F19");
}

TEST_F(ControllerTest, TransmitWithoutLinkReportsTransferFailed) {
  controller_->OnOpen();
  controller_->OnTransmit();
  const std::vector<std::string> statuses = {"", "Writing setup data ....",
                                             "Writing setup data failed!"};
  EXPECT_EQ(view_.statuses, statuses);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Transfer failed!");
  EXPECT_EQ(view_.messages[0].caption, "Error");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(view_.messages[0].waitDepth, 0);
  EXPECT_TRUE(port_->writes.empty());
}

TEST_F(ControllerTest, TransmitWithTooLongFieldDoesNothing) {
  controller_->OnOpen();
  view_.controls.setup.subnetMaskText = "255.255.255.0000";
  controller_->OnTransmit();
  EXPECT_EQ(view_.MessageTexts(),
            std::vector<std::string>{"Please enter no more than 15 characters."});
  EXPECT_EQ(view_.status, "");
  EXPECT_EQ(view_.maxWaitDepth, 0);
}

}  // namespace
}  // namespace vanta
