#include "dialog/dialog_view.h"

#include "setup/dotted_quad.h"

namespace vanta {

namespace {

// Characters as the window's edit field counts them against its limit: UTF-16 units of the UTF-8
// text (a character beyond U+FFFF counts two), so "ü" is one character, not two bytes.
size_t FieldCharacters(const std::string& text) {
  size_t count = 0;
  for (const char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if ((byte & 0xC0) != 0x80) ++count;  // every byte but a continuation byte starts a character
    if (byte >= 0xF0) ++count;           // four-byte sequences are surrogate pairs in the field
  }
  return count;
}

// One step of the save exchange for a limited edit field: the text is copied first and checked
// afterwards, so a refused text is already in the field, as the binding order promises.
bool SaveLimitedText(DialogView& view, const std::string& control, std::string& field,
                     EditField which) {
  field = control;
  if (FieldCharacters(field) <= static_cast<size_t>(kAddressFieldLimit)) return true;
  view.ShowMessage(
      "Please enter no more than " + std::to_string(kAddressFieldLimit) + " characters.", "",
      MessageIcon::Exclamation, MessageButtons::Ok);
  view.FocusField(which);
  return false;
}

}  // namespace

bool ExchangeData(DialogView& view, DialogFields& fields, Exchange direction) {
  if (direction == Exchange::Load) {
    ControlValues values;
    values.portIndex = fields.portIndex;
    values.speedIndex = fields.speedIndex;
    values.setup = fields.setup;
    values.serialNumber = fields.identity.serialNumber;
    values.macAddressText = fields.macAddressText;
    view.WriteControls(values);
    return true;
  }

  const ControlValues values = view.ReadControls();
  fields.portIndex = values.portIndex;
  fields.speedIndex = values.speedIndex;
  if (!SaveLimitedText(view, values.setup.probeIpText, fields.setup.probeIpText,
                       EditField::ProbeIp))
    return false;
  if (!SaveLimitedText(view, values.setup.subnetMaskText, fields.setup.subnetMaskText,
                       EditField::SubnetMask))
    return false;
  if (!SaveLimitedText(view, values.setup.gatewayText, fields.setup.gatewayText,
                       EditField::Gateway))
    return false;
  if (!SaveLimitedText(view, values.setup.configHostText, fields.setup.configHostText,
                       EditField::ConfigHost))
    return false;
  fields.setup.configFileText = values.setup.configFileText;

  // The address check comes after every control was copied, so the field exchanged last (the
  // configuration file) is the one that takes the focus.
  if (ParseDottedQuad(fields.setup.probeIpText) == kInvalidAddress) {
    view.ShowMessage("Invalid IP address!", kAppTitle, MessageIcon::Exclamation,
                     MessageButtons::Ok);
    view.FocusField(EditField::ConfigFile);
    return false;
  }
  return true;
}

std::string MacAddressText(const std::string& serialNumber) {
  return "0A4F19" + serialNumber.substr(0, 6);
}

}  // namespace vanta
