#pragma once
// The main dialog's form as the flows see it: version labels, buttons, the bound controls and
// their exchange. The Qt window, the command line and the tests' recording fake each implement
// DialogView; the controller owns DialogFields.
#include <cstdint>
#include <string>

#include "link/loader.h"
#include "setup/setup_block.h"
#include "update/image_catalogue.h"
#include "update/step_view.h"

namespace vanta {

enum class VersionLabel { Loader, Firmware, Logic, NewestFirmware, NewestLogic };
enum class FlowButton { Connect, Current, Update, Erase, Transmit };
// The edit fields in the order the dialog exchanges them.
enum class EditField { ProbeIp, SubnetMask, Gateway, ConfigHost, ConfigFile };
inline constexpr int kPortCount = 19;
inline constexpr int kSpeedCount = 5;
inline constexpr int kAddressFieldLimit = 15;

// What the dialog's bound controls hold. A list without a selection reads -1.
struct ControlValues {
  int32_t portIndex = -1;
  int32_t speedIndex = -1;
  SetupTexts setup;            // the five edit fields
  std::string serialNumber;    // SN label (load only)
  std::string macAddressText;  // MAC label (load only)
};

// The status line, message boxes and wait cursor come from StepView.
class DialogView : public StepView {
 public:
  virtual void SetVersionLabel(VersionLabel label, const std::string& text) = 0;
  virtual void EnableButton(FlowButton button, bool enabled) = 0;
  // Save direction: the controls' current contents.
  virtual ControlValues ReadControls() = 0;
  // Load direction: every bound control rewritten from values (an index outside its list's range
  // selects nothing).
  virtual void WriteControls(const ControlValues& values) = 0;
  // Keyboard focus to field with its whole text selected (after a failed save exchange).
  virtual void FocusField(EditField field) = 0;
};

// The dialog's state that the flows share.
struct DialogFields {
  int32_t portIndex = -1;
  int32_t speedIndex = -1;
  SetupTexts setup;  // the five edit fields
  std::string macAddressText;
  DeviceIdentity identity;
  ImageVersion newestFirmwareVersion = 0;
  ImageVersion newestLogicVersion = 0;
};

enum class Exchange { Load, Save };

// Moves the fields to the controls (load) or the controls to the fields (save) in the dialog's
// binding order. Save validates as it goes: an address field over 15 characters (counted as the
// window's field counts them, not in bytes) shows "Please enter no more than 15 characters.", an
// invalid probe IP "Invalid IP address!"; a failure stops at once (fields copied so far keep
// their values) and focuses the field exchanged last.
bool ExchangeData(DialogView& view, DialogFields& fields, Exchange direction);

// "0A4F19" followed by the first six characters of the serial number (all of a shorter one).
std::string MacAddressText(const std::string& serialNumber);

}  // namespace vanta
