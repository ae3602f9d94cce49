// The dialog's data exchange: binding order, the two refusals, and where the focus goes.
#include <gtest/gtest.h>

#include "dialog/dialog_view.h"
#include "tests/support/recording_view.h"

namespace vanta {
namespace {

using test::RecordingView;

constexpr const char* kLimitMessage = "Please enter no more than 15 characters.";

ControlValues ValidControls() {
  ControlValues c;
  c.portIndex = 2;
  c.speedIndex = 4;
  c.setup.probeIpText = "192.168.1.10";
  c.setup.subnetMaskText = "255.255.255.0";
  c.setup.gatewayText = "192.168.1.1";
  c.setup.configHostText = "192.168.1.2";
  c.setup.configFileText = "/home/user/probe.cfg";
  return c;
}

TEST(ExchangeLoad, WritesEveryFieldIntoItsControl) {
  RecordingView view;
  DialogFields fields;
  fields.portIndex = 9;
  fields.speedIndex = 3;
  fields.setup.probeIpText = "10.0.0.1";
  fields.setup.subnetMaskText = "255.0.0.0";
  fields.setup.gatewayText = "10.0.0.254";
  fields.setup.configHostText = "10.0.0.2";
  fields.setup.configFileText = "a.cfg";
  fields.identity.serialNumber = "12345678";
  fields.macAddressText = "0A4F19123456";

  EXPECT_TRUE(ExchangeData(view, fields, Exchange::Load));
  EXPECT_EQ(view.loads, 1);
  EXPECT_EQ(view.controls.portIndex, 9);
  EXPECT_EQ(view.controls.speedIndex, 3);
  EXPECT_EQ(view.controls.setup.probeIpText, "10.0.0.1");
  EXPECT_EQ(view.controls.setup.subnetMaskText, "255.0.0.0");
  EXPECT_EQ(view.controls.setup.gatewayText, "10.0.0.254");
  EXPECT_EQ(view.controls.setup.configHostText, "10.0.0.2");
  EXPECT_EQ(view.controls.setup.configFileText, "a.cfg");
  EXPECT_EQ(view.controls.serialNumber, "12345678");
  EXPECT_EQ(view.controls.macAddressText, "0A4F19123456");
  EXPECT_TRUE(view.messages.empty());
}

TEST(ExchangeSave, CopiesTheControlsWhenAllAreValid) {
  RecordingView view;
  view.controls = ValidControls();
  view.controls.portIndex = -1;  // a list without a selection
  DialogFields fields;
  EXPECT_TRUE(ExchangeData(view, fields, Exchange::Save));
  EXPECT_EQ(fields.portIndex, -1);
  EXPECT_EQ(fields.speedIndex, 4);
  EXPECT_EQ(fields.setup.probeIpText, "192.168.1.10");
  EXPECT_EQ(fields.setup.configFileText, "/home/user/probe.cfg");
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(view.focused.empty());
}

TEST(ExchangeSave, SaveDoesNotTakeTheSerialOrMacFromTheLabels) {
  RecordingView view;
  view.controls = ValidControls();
  view.controls.serialNumber = "label text";
  view.controls.macAddressText = "label text";
  DialogFields fields;
  fields.identity.serialNumber = "87654321";
  fields.macAddressText = "0A4F19876543";
  ASSERT_TRUE(ExchangeData(view, fields, Exchange::Save));
  EXPECT_EQ(fields.identity.serialNumber, "87654321");
  EXPECT_EQ(fields.macAddressText, "0A4F19876543");
}

// Invalid probe addresses: three parts, all ones, a part above 255, empty, and text.
class InvalidProbeIp : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidProbeIp, IsRefusedWithFocusOnTheConfigurationFile) {
  RecordingView view;
  view.controls = ValidControls();
  view.controls.setup.probeIpText = GetParam();
  DialogFields fields;
  EXPECT_FALSE(ExchangeData(view, fields, Exchange::Save));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Invalid IP address!");
  EXPECT_EQ(view.messages[0].caption, "vantaLink");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::Ok);
  ASSERT_EQ(view.focused.size(), 1u);
  EXPECT_EQ(view.focused[0], EditField::ConfigFile);
  // Every control was copied before the check.
  EXPECT_EQ(fields.setup.probeIpText, GetParam());
  EXPECT_EQ(fields.setup.configFileText, "/home/user/probe.cfg");
}

INSTANTIATE_TEST_SUITE_P(Addresses, InvalidProbeIp,
                         ::testing::Values("1.2.3", "255.255.255.255", "256.1.1.1", "",
                                           "vanta.local", "1.2.3.4.5",
                                           // eight characters, sixteen bytes: not too long
                                           "\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc"));

// A text over 15 characters in each limited field: the exchange stops there.
struct LongField {
  EditField field;
  std::string SetupTexts::*text;  // the same text in the controls and in the fields
};

class OverLongAddressField : public ::testing::TestWithParam<LongField> {};

TEST_P(OverLongAddressField, StopsAtThatFieldWithItsTextAlreadyCopied) {
  const LongField& p = GetParam();
  RecordingView view;
  view.controls = ValidControls();
  view.controls.setup.*p.text = "192.168.100.1000";  // 16 characters
  DialogFields fields;
  fields.setup.configFileText = "old.cfg";
  EXPECT_FALSE(ExchangeData(view, fields, Exchange::Save));
  ASSERT_EQ(view.MessageTexts(), std::vector<std::string>{kLimitMessage});
  EXPECT_EQ(view.messages[0].icon, MessageIcon::Exclamation);
  ASSERT_EQ(view.focused.size(), 1u);
  EXPECT_EQ(view.focused[0], p.field);
  EXPECT_EQ(fields.setup.*p.text, "192.168.100.1000");
  EXPECT_EQ(fields.portIndex, 2);                     // copied before
  EXPECT_EQ(fields.setup.configFileText, "old.cfg");  // never reached
}

INSTANTIATE_TEST_SUITE_P(
    Fields, OverLongAddressField,
    ::testing::Values(LongField{EditField::ProbeIp, &SetupTexts::probeIpText},
                      LongField{EditField::SubnetMask, &SetupTexts::subnetMaskText},
                      LongField{EditField::Gateway, &SetupTexts::gatewayText},
                      LongField{EditField::ConfigHost, &SetupTexts::configHostText}));

TEST(ExchangeSave, FifteenCharactersAndALongFileNameAreAccepted) {
  RecordingView view;
  view.controls = ValidControls();
  view.controls.setup.gatewayText = "192.168.100.100";  // exactly 15
  std::string umlauts;
  for (int i = 0; i < 15; ++i) umlauts += "\u00e4";  // 15 characters in 30 bytes
  view.controls.setup.subnetMaskText = umlauts;
  view.controls.setup.configFileText = std::string(300, 'f');
  DialogFields fields;
  EXPECT_TRUE(ExchangeData(view, fields, Exchange::Save));
  EXPECT_EQ(fields.setup.configFileText.size(), 300u);
  EXPECT_EQ(fields.setup.subnetMaskText, umlauts);

  // One more character is one too many; a character beyond U+FFFF takes two places in the field.
  for (const std::string& text : {umlauts + "\u00e4", std::string(14, '1') + "\U0001F600"}) {
    view.controls.setup.subnetMaskText = text;
    view.messages.clear();
    EXPECT_FALSE(ExchangeData(view, fields, Exchange::Save)) << text;
    EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{kLimitMessage}) << text;
  }
}

TEST(ExchangeSave, TheFirstRefusalInBindingOrderIsTheOneShown) {
  RecordingView view;
  view.controls = ValidControls();
  view.controls.setup.probeIpText = "1.2.3";                 // checked last
  view.controls.setup.configHostText = "111.111.111.111.1";  // checked on the way
  DialogFields fields;
  EXPECT_FALSE(ExchangeData(view, fields, Exchange::Save));
  EXPECT_EQ(view.MessageTexts(), std::vector<std::string>{kLimitMessage});
  EXPECT_EQ(view.focused, std::vector<EditField>{EditField::ConfigHost});
}

TEST(MacAddressText, PrefixAndTheFirstSixSerialCharacters) {
  EXPECT_EQ(MacAddressText("12345678"), "0A4F19123456");
  EXPECT_EQ(MacAddressText("123456789C"), "0A4F19123456");
  EXPECT_EQ(MacAddressText("1234"), "0A4F191234");
  EXPECT_EQ(MacAddressText(""), "0A4F19");
}

TEST(ShowError, IsAnOkBoxWithExclamationAndTheApplicationTitle) {
  RecordingView view;
  ShowError(view, "Something failed!");
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "Something failed!");
  EXPECT_EQ(view.messages[0].caption, "");  // "" is the application title
  EXPECT_EQ(view.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(view.messages[0].buttons, MessageButtons::Ok);
}

}  // namespace
}  // namespace vanta
