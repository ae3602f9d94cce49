#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog/dialog_controller.h"
#include "link/loader.h"
#include "sim/virtual_probe.h"
#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"
#include "update/logic.h"

namespace vanta {
namespace {

// The Update and Erase buttons end to end: the flows over a link on a pseudo-terminal to the
// virtual probe, as the window runs them after Connect.
class FlowsOnProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(probe.Start());
    ASSERT_EQ(link.OpenLink(probe.DevicePath(), 115200), RESULT_OK);
  }
  void Connect() { ASSERT_EQ(ReadIdentity(link, fields.identity), RESULT_OK); }
  FlowContext Context() { return FlowContext{link, view, fields, progress, {dir.Path()}}; }
  void TearDown() override {
    link.CloseLink();
    EXPECT_EQ(view.waitDepth, 0);
    for (const auto& m : view.messages) EXPECT_EQ(m.waitDepth, 0) << m.text;
  }

  sim::VirtualProbe probe;
  ProbeLink link;
  test::ImageTempDir dir;
  test::RecordingView view;
  DialogFields fields;
  ProgressDisplay progress;
};

TEST_F(FlowsOnProbe, UpdateLeavesTheImageInFlashTheFuseMapInTheLogicAndTheNewVersions) {
  for (bool fast : {false, true}) {
    probe.InstallFirmwareVersion(3);
    probe.InstallLogicVersion(4);
    Connect();
    ASSERT_EQ(fields.identity.firmwareVersion, 3);
    ASSERT_EQ(fields.identity.logicVersion, 4);

    test::FirmwareParams params;
    params.version = fast ? 9 : 8;
    params.size = 32 * 1024;
    const test::FirmwareImage image = test::MakeFirmwareImage(params);
    ASSERT_TRUE(
        test::WriteTextFile(dir.File(test::ImageFileName("VT7PP4FW", params.version)), image.text));
    test::JedecParams logic;
    logic.seed = fast ? 11 : 12;
    const test::JedecImage map = test::MakeJedecImage(logic);
    const uint16_t logicVersion = fast ? 13 : 12;
    ASSERT_TRUE(
        test::WriteTextFile(dir.File(test::ImageFileName("PP4JEDK0", logicVersion)), map.text));
    fields.newestFirmwareVersion = params.version;
    fields.newestLogicVersion = logicVersion;

    FlowContext context = Context();
    context.firmware.mergeRecords = fast;
    context.firmware.verifyReadBack = fast;
    OnUpdate(context);

    EXPECT_EQ(view.status, "Updating firmware and logic passed!");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(probe.ReadFlash(image.address, params.size), test::ExpectedFlash(image));
    EXPECT_EQ(probe.LogicRows(), map.rows);
    EXPECT_EQ(probe.LogicUes(), ExpandUes("B6001E9" + VersionDigits(logicVersion)));
    EXPECT_EQ(probe.StoredFirmwareVersion(), 0x1600 + params.version);
    EXPECT_EQ(probe.StoredLogicVersion(), 9000 + logicVersion);
    EXPECT_EQ(fields.identity.firmwareVersion, params.version);
    EXPECT_EQ(fields.identity.logicVersion, logicVersion);
    EXPECT_EQ(view.labels[VersionLabel::Firmware], VersionText(params.version));
    EXPECT_EQ(view.labels[VersionLabel::Logic], VersionText(logicVersion));
    EXPECT_FALSE(view.Enabled(FlowButton::Update));
    EXPECT_EQ(fields.macAddressText, "0A4F19123456");
  }
}

TEST_F(FlowsOnProbe, UpdateWithAMissingLogicFileLeavesLogicAccessAndFails) {
  Connect();
  fields.newestLogicVersion = 12;
  probe.ClearCommandLog();
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{"Logic: Cannot open JEDEC file!"});
  EXPECT_EQ(probe.CommandLog(), std::vector<uint8_t>{LDR_LOGIC_ACCESS});
  EXPECT_EQ(view.status, "Updating firmware and logic failed!");
  EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
}

TEST_F(FlowsOnProbe, EraseClearsEverythingWithDeviceType19AndStillTheFlashWith18) {
  for (uint8_t type : {19, 18}) {
    probe.SetLogicDeviceType(type);
    probe.InstallFirmwareVersion(5);
    probe.InstallLogicVersion(12);
    probe.ProgramFlash(SETUP_SECTOR, std::vector<uint8_t>(104, 0x42));
    Connect();
    view = test::RecordingView();
    FlowContext context = Context();
    OnErase(context);
    EXPECT_EQ(probe.StoredFirmwareVersion(), 0);
    EXPECT_EQ(probe.ReadFlash(SETUP_SECTOR, 104), std::vector<uint8_t>(104, 0xFF));
    EXPECT_EQ(probe.StoredLogicVersion(), type == 19 ? 0 : 9012);
    EXPECT_EQ(view.status,
              type == 19 ? "Erasing Flash and EPLD passed!" : "Erasing Flash and EPLD failed!");
    EXPECT_EQ(view.labels[VersionLabel::Firmware], "unknown");
    EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
    EXPECT_EQ(view.Enabled(FlowButton::Update), type == 19);
  }
}

TEST(FlowsOnASlowProbe, EraseOfSectorsSlowerThanTheReplyWaitErasesEveryOneOrFails) {
  // The last two sector erases take longer than the erase's reply wait (10.33 s at 115200 bit/s):
  // the first attempt times out, the second goes out, and the probe answers both, erasing again
  // for the second. A reply taken for the wrong request would report erased what is not yet.
  sim::ProbeOptions options;
  options.linePacing = true;
  options.repeatRedoesWork = true;
  sim::VirtualProbe probe(options);
  ASSERT_TRUE(probe.Start());
  for (uint32_t sector : kAllSectors) probe.ProgramFlash(sector, std::vector<uint8_t>(16, 0x42));
  probe.Faults().eraseSectorBusyMs = 10600;
  probe.Faults().eraseBusyFromSector = 0x01080000;
  ProbeLink link;
  ASSERT_EQ(link.OpenLink(probe.DevicePath(), 115200), RESULT_OK);
  test::ImageTempDir dir;
  test::RecordingView view;
  DialogFields fields;
  ProgressDisplay progress;
  ASSERT_EQ(ReadIdentity(link, fields.identity), RESULT_OK);
  FlowContext context{link, view, fields, progress, {dir.Path()}};
  OnErase(context);
  const bool passed = view.status == "Erasing Flash and EPLD passed!";
  // Read at once: what the flow reported is what the probe holds now.
  for (uint32_t sector : kAllSectors) {
    if (passed) {
      EXPECT_EQ(probe.ReadFlash(sector, 16), std::vector<uint8_t>(16, 0xFF)) << sector;
    }
  }
  EXPECT_TRUE(passed) << view.status;
  link.CloseLink();
}

}  // namespace
}  // namespace vanta
