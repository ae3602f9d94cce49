#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog/dialog_controller.h"
#include "link/loader.h"
#include "tests/support/fake_loader.h"
#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"
#include "update/logic.h"

namespace vanta {
namespace {

using test::Bytes;
using test::FakeLoader;
using test::RecordingView;

constexpr const char* kPassed = "Updating firmware and logic passed!";
constexpr const char* kFailed = "Updating firmware and logic failed!";

class Flows : public ::testing::Test {
 protected:
  FlowContext Context() { return FlowContext{loader.Link(), view, fields, progress, {dir.Path()}}; }

  test::FirmwareImage PutFirmware(uint8_t version) {
    test::FirmwareParams params;
    params.version = version;
    params.size = 2048;
    test::FirmwareImage image = test::MakeFirmwareImage(params);
    EXPECT_TRUE(
        test::WriteTextFile(dir.File(test::ImageFileName("VT7PP4FW", version)), image.text));
    fields.newestFirmwareVersion = version;
    return image;
  }
  std::vector<std::string> PutLogic(const std::string& base, uint16_t version, uint32_t seed = 7) {
    test::JedecParams params;
    params.seed = seed;
    test::JedecImage image = test::MakeJedecImage(params);
    EXPECT_TRUE(test::WriteTextFile(dir.File(test::ImageFileName(base, version)), image.text));
    fields.newestLogicVersion = version;
    return image.rows;
  }
  // What the Connect flow leaves: the identity as read.
  void Connect() {
    ASSERT_EQ(ReadIdentity(loader.Link(), fields.identity), RESULT_OK);
    loader.ClearRequests();
  }
  bool Sent(const Bytes& request) const {
    for (const Bytes& r : loader.requests) {
      if (r == request) return true;
    }
    return false;
  }
  bool StatusSeen(const std::string& text) const {
    for (const std::string& s : view.statuses) {
      if (s == text) return true;
    }
    return false;
  }
  void TearDown() override {
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_FALSE(view.unbalancedWait);
    for (const RecordingView::Message& m : view.messages) {
      EXPECT_EQ(m.waitDepth, 0) << "under the wait cursor: " << m.text;
    }
  }

  test::ImageTempDir dir;
  FakeLoader loader;
  RecordingView view;
  DialogFields fields;
  ProgressDisplay progress;
};

TEST_F(Flows, UpdateWritesFirmwareAndLogicThenShowsTheNewVersions) {
  loader.InstallFirmwareVersion(3);
  loader.serialNumber = "87654321";
  Connect();
  const test::FirmwareImage image = PutFirmware(5);
  const std::vector<std::string> rows = PutLogic("PP4JEDK0", 12);
  FlowContext context = Context();
  OnUpdate(context);

  EXPECT_EQ(loader.Flash(image.address, 2048), test::ExpectedFlash(image));
  EXPECT_EQ(loader.rows, rows);
  EXPECT_EQ(loader.ues, ExpandUes("B6001E9012"));
  EXPECT_EQ(fields.identity.firmwareVersion, 5);
  EXPECT_EQ(fields.identity.logicVersion, 12);
  EXPECT_EQ(fields.macAddressText, "0A4F19876543");
  EXPECT_EQ(view.loads, 1);
  EXPECT_EQ(view.controls.macAddressText, "0A4F19876543");
  EXPECT_EQ(view.status, kPassed);
  EXPECT_TRUE(StatusSeen("Firmware: Programming Flash ... passed!"));
  EXPECT_TRUE(StatusSeen("Logic: Verifying ..."));
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "0.05");
  EXPECT_EQ(view.labels[VersionLabel::Logic], "0.12");
  EXPECT_EQ(view.labels.count(VersionLabel::Loader), 0u);
  EXPECT_FALSE(view.Enabled(FlowButton::Update));
  EXPECT_EQ(view.buttons.count(FlowButton::Update), 1u);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(Sent({LDR_LOGIC_ACCESS, 0}));
}

// The window and the command line look in several directories; each image comes from the one
// where its newest version lies.
TEST_F(Flows, UpdateTakesEachImageFromTheDirectoryWhereItsNewestVersionLies) {
  loader.InstallFirmwareVersion(3);
  Connect();
  const test::FirmwareImage image = PutFirmware(5);
  test::ImageTempDir logicDir;
  test::JedecImage logic = test::MakeJedecImage({});
  ASSERT_TRUE(test::WriteTextFile(logicDir.File("PP4JEDK0.012"), logic.text));
  ASSERT_TRUE(test::WriteTextFile(dir.File("PP4JEDK0.011"), "not a fuse map\n"));
  FlowContext context{loader.Link(), view, fields, progress, {dir.Path(), logicDir.Path()}};
  fields.newestLogicVersion = FindNewestVersion(kLogicBase, context.imageDirs);
  ASSERT_EQ(fields.newestLogicVersion, 12);
  OnUpdate(context);
  EXPECT_EQ(view.status, kPassed);
  EXPECT_EQ(loader.Flash(image.address, 2048), test::ExpectedFlash(image));
  EXPECT_EQ(loader.rows, logic.rows);
  EXPECT_EQ(fields.identity.logicVersion, 12);
}

TEST_F(Flows, AnOlderImageOnDiskReplacesANewerFirmware) {
  loader.InstallFirmwareVersion(105);
  Connect();
  ASSERT_EQ(fields.identity.firmwareVersion, 105);
  const test::FirmwareImage image = PutFirmware(104);
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(loader.Flash(image.address, 2048), test::ExpectedFlash(image));
  EXPECT_EQ(fields.identity.firmwareVersion, 104);
  EXPECT_EQ(view.status, kPassed);
  EXPECT_TRUE(loader.Requests(LDR_LOGIC_ACCESS).empty()) << "logic versions agree (0)";
}

TEST_F(Flows, WithoutAFirmwareFileTheUpdateFailsAndLeavesTheLogicAlone) {
  loader.InstallFirmwareVersion(5);
  loader.serialNumber = "ABCDEFGH";
  Connect();
  fields.newestFirmwareVersion = 0;
  PutLogic("PP4JEDK0", 12);
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{"Firmware update failed!"});
  EXPECT_TRUE(loader.requests.empty());
  EXPECT_EQ(view.status, kFailed);
  EXPECT_EQ(fields.identity.firmwareVersion, 0);
  EXPECT_EQ(fields.identity.logicVersion, 0);
  EXPECT_EQ(fields.identity.serialNumber, "ABCDEFGH");
  EXPECT_EQ(fields.identity.loaderVersion, 0x0102);
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "unknown");
  EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
  EXPECT_EQ(view.loads, 0);
  EXPECT_TRUE(view.buttons.empty());
}

TEST_F(Flows, WhenOnlyTheLogicDiffersNoFlashSectorIsErased) {
  loader.InstallFirmwareVersion(5);
  Connect();
  fields.newestFirmwareVersion = 5;
  const std::vector<std::string> rows = PutLogic("PP4JEDK0", 7);
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_TRUE(loader.Requests(LDR_ERASE_SECTOR).empty());
  EXPECT_TRUE(loader.Requests(LDR_PROGRAM).empty());
  EXPECT_EQ(loader.rows, rows);
  EXPECT_EQ(loader.ues, ExpandUes("B6001E9007"));
  EXPECT_TRUE(StatusSeen("Logic: Reading JEDEC File ..."));
  EXPECT_TRUE(StatusSeen("Logic: Programming ..."));
  EXPECT_EQ(view.status, kPassed);
  EXPECT_EQ(view.labels[VersionLabel::Logic], "0.07");
}

TEST_F(Flows, ATenCharacterSerialEndingInCSelectsTheSecondLogicImage) {
  struct Case {
    const char* serial;
    bool second;
  };
  const Case cases[] = {{"123456789C", true},  {"12345678C", false},  {"1234567890C", false},
                        {"123456789D", false}, {"123456789c", false}, {"12345678", false}};
  for (const Case& c : cases) {
    FakeLoader probe;
    probe.serialNumber = c.serial;
    DialogFields f;
    ASSERT_EQ(ReadIdentity(probe.Link(), f.identity), RESULT_OK);
    RecordingView v;
    const std::vector<std::string> first = PutLogic("PP4JEDK0", 9, 1);
    const std::vector<std::string> second = PutLogic("PP4JEDK1", 9, 2);
    f.newestLogicVersion = 9;
    FlowContext context{probe.Link(), v, f, progress, {dir.Path()}};
    OnUpdate(context);
    EXPECT_EQ(v.status, kPassed) << c.serial;
    EXPECT_EQ(probe.rows, c.second ? second : first) << c.serial;
  }
}

TEST_F(Flows, AMissingLogicFileStillSendsLeaveAccessAndFailsTheUpdate) {
  Connect();
  fields.newestLogicVersion = 12;  // no PP4JEDK0.012 on disk
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{"Logic: Cannot open JEDEC file!"});
  EXPECT_EQ(loader.requests, std::vector<Bytes>{Bytes({LDR_LOGIC_ACCESS, 0})});
  EXPECT_EQ(view.status, kFailed);
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "unknown");
  EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
}

TEST_F(Flows, AFailingLogicStepEndsTheUpdateAfterLeavingAccess) {
  Connect();
  PutLogic("PP4JEDK0", 12);
  loader.deviceType = 18;
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{"Logic: Unknown ispLSI device type!"});
  EXPECT_TRUE(loader.Requests(LDR_LOGIC_ERASE).empty());
  EXPECT_EQ(loader.requests.back(), Bytes({LDR_LOGIC_ACCESS, 0}));
  EXPECT_EQ(view.status, kFailed);
}

TEST_F(Flows, OnlyTheCommandLinesOptInPathReadsAFuseRowLostOnTheLineAgain) {
  for (const bool verify : {false, true}) {
    Connect();
    view = RecordingView();
    PutLogic("PP4JEDK0", verify ? 13 : 12);
    int lost = 3;  // every attempt of one transaction reading row 7
    loader.script = [&lost](const Bytes& r, int, std::optional<Bytes>& reply) {
      if (r[0] != LDR_LOGIC_READ_ROW || r[1] != 7 || lost == 0) return false;
      --lost;
      reply.reset();
      return true;
    };
    FlowContext context = Context();
    context.firmware.verifyReadBack = verify;
    const FlowOutcome outcome = OnUpdate(context);
    EXPECT_EQ(outcome.passed, verify);
    EXPECT_EQ(view.status, verify ? kPassed : kFailed);
    EXPECT_EQ(outcome.stage, verify ? FlowStage::None : FlowStage::LogicVerify);
  }
}

TEST_F(Flows, WithNothingToWriteTheUpdateOnlyReadsTheIdentityAgain) {
  loader.InstallFirmwareVersion(5);
  loader.InstallLogicVersion(12);
  Connect();
  fields.newestFirmwareVersion = 5;
  fields.newestLogicVersion = 12;
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(loader.Codes(), (std::vector<uint8_t>{LDR_ENTER_LOADER, LDR_IDENTIFY}));
  EXPECT_EQ(view.status, kPassed);
  EXPECT_FALSE(view.Enabled(FlowButton::Update));
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "0.05");
}

TEST_F(Flows, TheUpdateButtonStaysOnWhileTheProbeReportsOtherVersions) {
  Connect();
  PutLogic("PP4JEDK0", 12);
  // The probe keeps reporting logic version 0 after the update.
  loader.script = [](const Bytes& r, int, std::optional<Bytes>& reply) {
    if (r[0] != LDR_IDENTIFY) return false;
    reply = Bytes{LDR_IDENTIFY, 1, 2, 0, 0, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8'};
    return true;
  };
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(view.status, kPassed);
  EXPECT_TRUE(view.Enabled(FlowButton::Update));
  EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
}

TEST_F(Flows, AFailedIdentityReadAfterwardsFailsTheUpdate) {
  Connect();
  fields.identity.serialNumber = "ZYXWVUTS";
  loader.script = [](const Bytes& r, int, std::optional<Bytes>& reply) {
    reply.reset();
    return r[0] == LDR_IDENTIFY;
  };
  FlowContext context = Context();
  OnUpdate(context);
  EXPECT_EQ(view.status, kFailed);
  EXPECT_EQ(fields.macAddressText, "0A4F19ZYXWVU") << "rebuilt whatever the read gave";
  EXPECT_EQ(view.loads, 0);
  EXPECT_TRUE(view.buttons.empty());
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Flows, EraseAnsweredNoSendsNothing) {
  view.answers = {MessageAnswer::No};
  FlowContext context = Context();
  OnErase(context);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Erase Flash and EPLD?");
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::YesNoDefaultNo);  // Enter answers No
  EXPECT_EQ(view.messages[0].caption, "");
  EXPECT_TRUE(loader.requests.empty());
  EXPECT_TRUE(view.events.size() == 1u);  // the question alone
}

TEST_F(Flows, EraseClearsLogicAndAllSixSectorsAndShowsBothVersionsUnknown) {
  loader.InstallFirmwareVersion(5);
  loader.InstallLogicVersion(12);
  Connect();
  FlowContext context = Context();
  OnErase(context);
  std::vector<Bytes> expected = {
      {LDR_LOGIC_ACCESS, 1}, {LDR_LOGIC_DEVICE_TYPE}, {LDR_LOGIC_ERASE}, {LDR_LOGIC_ACCESS, 0}};
  for (uint32_t sector : kAllSectors) {
    expected.push_back({LDR_ERASE_SECTOR, static_cast<uint8_t>(sector >> 24),
                        static_cast<uint8_t>(sector >> 16), static_cast<uint8_t>(sector >> 8),
                        static_cast<uint8_t>(sector)});
  }
  EXPECT_EQ(loader.requests, expected);
  EXPECT_EQ(view.statuses, (std::vector<std::string>{
                               "Erasing Flash and EPLD ...", "Logic: Erasing ...",
                               "Erasing all flash sectors ...", "Erasing Flash and EPLD passed!"}));
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "unknown");
  EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
  EXPECT_TRUE(view.Enabled(FlowButton::Update));
  EXPECT_EQ(view.loads, 1);
  EXPECT_EQ(fields.identity.firmwareVersion, 0);
  EXPECT_EQ(fields.identity.logicVersion, 0);
  EXPECT_EQ(loader.flash, std::vector<uint8_t>(FakeLoader::kFlashSize, 0xFF));
}

TEST_F(Flows, EraseWithAnotherDeviceTypeStillErasesTheFlashAndFails) {
  loader.deviceType = 18;
  loader.InstallFirmwareVersion(5);
  Connect();
  FlowContext context = Context();
  OnErase(context);
  EXPECT_EQ(view.MessageTexts(), (std::vector<std::string>{"Erase Flash and EPLD?",
                                                           "Logic: Unknown ispLSI device type!"}));
  EXPECT_TRUE(loader.Requests(LDR_LOGIC_ERASE).empty());
  EXPECT_TRUE(Sent({LDR_LOGIC_ACCESS, 0}));
  EXPECT_EQ(loader.Requests(LDR_ERASE_SECTOR).size(), 6u);
  EXPECT_EQ(loader.Flash(FIRMWARE_SECTOR, 4), Bytes(4, 0xFF));
  EXPECT_EQ(view.status, "Erasing Flash and EPLD failed!");
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "unknown");
  EXPECT_EQ(view.labels[VersionLabel::Logic], "unknown");
  EXPECT_EQ(view.loads, 0);
  EXPECT_TRUE(view.buttons.empty());
}

TEST_F(Flows, AFlashEraseFailureFailsTheEraseWithoutAMessageOfItsOwn) {
  loader.failEraseSector = 0x01010000;
  FlowContext context = Context();
  OnErase(context);
  EXPECT_EQ(loader.Requests(LDR_ERASE_SECTOR).size(), 3u);
  EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{"Erase Flash and EPLD?"});
  EXPECT_EQ(view.status, "Erasing Flash and EPLD failed!");
  EXPECT_EQ(view.labels[VersionLabel::Firmware], "unknown");
}

}  // namespace
}  // namespace vanta
