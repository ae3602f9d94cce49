#pragma once
// The narrow face of the main dialog that the flows talk to. The Qt window, the command line and
// the tests' recording fake each implement DialogView; the flows own DialogFields.
#include <cstdint>
#include <string>

#include "link/loader.h"
#include "update/image_catalogue.h"

namespace vanta {

enum class VersionLabel { Loader, Firmware, Logic, NewestFirmware, NewestLogic };
enum class FlowButton { Connect, Current, Update, Erase, Transmit };
// The edit fields in the order the dialog exchanges them.
enum class EditField { ProbeIp, SubnetMask, Gateway, ConfigHost, ConfigFile };
enum class MessageIcon { None, Exclamation, Question };
// YesNo has Yes as its default button (Enter), YesNoDefaultNo has No; Escape answers No in both.
enum class MessageButtons { Ok, YesNo, YesNoDefaultNo };
inline constexpr bool AsksYesNo(MessageButtons buttons) {
  return buttons != MessageButtons::Ok;
}
enum class MessageAnswer { Ok, Yes, No };

inline constexpr const char* kAppTitle = "vantaLink";  // caption of boxes without their own
inline constexpr int kPortCount = 19;
inline constexpr int kSpeedCount = 5;
inline constexpr int kAddressFieldLimit = 15;

// What the dialog's bound controls hold. A list without a selection reads -1.
struct ControlValues {
  int32_t portIndex = -1;
  int32_t speedIndex = -1;
  std::string probeIpText, subnetMaskText, gatewayText, configHostText, configFileText;
  std::string serialNumber;    // SN label (load only)
  std::string macAddressText;  // MAC label (load only)
};

class DialogView {
 public:
  virtual ~DialogView() = default;
  // The status line; shown at once, also while a flow blocks.
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetVersionLabel(VersionLabel label, const std::string& text) = 0;
  virtual void EnableButton(FlowButton button, bool enabled) = 0;
  // Save direction: the controls' current contents.
  virtual ControlValues ReadControls() = 0;
  // Load direction: every bound control rewritten from values (an index outside its list's range
  // selects nothing).
  virtual void WriteControls(const ControlValues& values) = 0;
  // Keyboard focus to field with its whole text selected (after a failed save exchange).
  virtual void FocusField(EditField field) = 0;
  // caption "" means the application title.
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                    MessageIcon icon, MessageButtons buttons) = 0;
  // Nested begin/end pairs balance; the cursor shows while the depth is above 0.
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
};

// The dialog's state that the flows share.
struct DialogFields {
  int32_t portIndex = -1;
  int32_t speedIndex = -1;
  std::string probeIpText, subnetMaskText, gatewayText, configHostText, configFileText;
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

// Shows an OK box with an exclamation icon and the application title.
void ShowError(DialogView& view, const std::string& text);

// Balances one BeginWaitCursor/EndWaitCursor pair on every path out of a scope.
class WaitCursor {
 public:
  explicit WaitCursor(DialogView& view) : view_(view) { view_.BeginWaitCursor(); }
  ~WaitCursor() { End(); }
  // Ends the cursor early (before a message box); the destructor then does nothing.
  void End() {
    if (active_) view_.EndWaitCursor();
    active_ = false;
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  DialogView& view_;
  bool active_ = true;
};

}  // namespace vanta
