#pragma once
// The work behind the Update and Erase buttons, on the probe and the status line alone; the dialog
// shows the outcome in its labels and buttons.
#include "link/link_session.h"
#include "link/loader.h"
#include "update/firmware.h"
#include "update/flow_outcome.h"
#include "update/image_catalogue.h"
#include "update/step_view.h"

namespace vanta {

// What an update works on.
struct UpdateContext {
  ProbeLink& link;
  StepView& view;
  DeviceIdentity& identity;  // the probe's as last read; read again at the end
  ImageVersion newestFirmwareVersion = 0;
  ImageVersion newestLogicVersion = 0;
  ProgressDisplay& progress;
  ImageDirectories imageDirs;       // where the image files are looked for, most preferred first
  FirmwareOptions firmware{};       // its imageDirs, when empty, are imageDirs
  FirmwareResult firmwareResult{};  // what the firmware run did, when UpdateProbe ran one
};

// Brings firmware and logic to the newest images on disk (each only when its version differs
// from identity's), then reads identity again. The first failure is the one returned; the
// identity was read again when the outcome passed or failed at IdentityRead.
FlowOutcome UpdateProbe(UpdateContext& context);

// Erases the logic device (under logic access, left in every case) and then all six flash
// sectors, whatever became of the logic. The first failure is the one returned.
FlowOutcome EraseProbe(ProbeLink& link, StepView& view);

}  // namespace vanta
