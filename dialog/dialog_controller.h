#pragma once
// The main dialog's behaviour without a toolkit: it owns the fields and the link and runs every
// button's flow against a DialogView. The Qt window, the command line and the tests drive it.
#include <memory>
#include <string>

#include "dialog/dialog_view.h"
#include "link/link_session.h"
#include "setup/setup_block.h"
#include "update/firmware.h"
#include "update/flow_outcome.h"
#include "update/update_flows.h"

namespace vanta {

// What the Update and Erase buttons work on: the window's link, view, fields and progress
// display.
struct FlowContext {
  ProbeLink& link;
  DialogView& view;
  DialogFields& fields;
  ProgressDisplay& progress;
  ImageDirectories imageDirs;  // where the image files are looked for, most preferred first
  FirmwareOptions firmware{};
  FirmwareResult firmwareResult{};  // what OnUpdate's firmware run did, when it ran one
};

// What the Update button offers for the versions the probe reported and the newest images found:
// nothing (every version is the newest), an update, or an update although no image file was
// found at all. The window enables the button for the last two, as it always has (the update then
// fails on the missing file); the command line says that there are no images, and where it looked.
enum class UpdateOffer { NotNeeded, Offered, NoImages };
UpdateOffer UpdateRule(const DialogFields& fields);

// The Update button: UpdateProbe under the wait cursor, then the outcome in the status line, the
// controls, the Update button and the version labels (both unknown after a failure); returns it
// as well.
FlowOutcome OnUpdate(FlowContext& context);

// The Erase button: after a Yes to "Erase Flash and EPLD?" (Declined after a No), EraseProbe
// under the wait cursor; both versions count as none afterwards. The first failure is the one
// returned.
FlowOutcome OnErase(FlowContext& context);

class DialogController {
 public:
  // view outlives the controller; imageDirs are where images are looked for (the program resolves
  // them at its start; none means no images).
  DialogController(DialogView& view, std::unique_ptr<ProbeLink> link,
                   ImageDirectories imageDirs = {});
  // A controller over the host's serial ports.
  explicit DialogController(DialogView& view, ImageDirectories imageDirs = {});

  DialogFields& Fields() { return fields_; }
  ProbeLink& Link() { return *link_; }
  FirmwareOptions& Firmware() { return firmware_; }
  // What the last OnUpdate's firmware run did (nothing when it ran none).
  const FirmwareResult& LastFirmwareRun() const { return lastFirmware_; }
  // A line speed for Connect to ask for instead of the Speed list's (0: the list's); the command
  // line's --speed takes any rate the port can be set to.
  void SetRequestedSpeed(uint32_t bitsPerSecond) { requestedSpeed_ = bitsPerSecond; }

  // When the window has been created: lists filled, load exchange, status emptied, newest
  // versions looked up and shown, only Connect enabled.
  void OnOpen();
  // Starts the probe's firmware, closes the link, then the save exchange; true when the dialog
  // may end with OK.
  bool OnOk();
  // Starts the probe's firmware and closes the link; the dialog then ends with Cancel.
  void OnCancel();

  // The flow buttons. Each shows what it did and returns the same as a value; the window
  // ignores it.
  FlowOutcome OnConnect();
  FlowOutcome OnCurrent();
  FlowOutcome OnUpdate();
  FlowOutcome OnErase();
  // report (when given) is filled on success with what was written where.
  FlowOutcome OnTransmit(TransmitReport* report = nullptr);

 private:
  void LeaveProbe();
  void ShowCurrentVersions();
  void ApplyUpdateRule();
  FlowContext Context();

  DialogView& view_;
  std::unique_ptr<ProbeLink> link_;
  ImageDirectories imageDirs_;
  DialogFields fields_;
  ProgressDisplay progress_;
  FirmwareOptions firmware_;
  FirmwareResult lastFirmware_;
  uint32_t requestedSpeed_ = 0;
};

}  // namespace vanta
