#pragma once
// The Update and Erase buttons.
#include <string>

#include "link/link_session.h"
#include "update/dialog_view.h"
#include "update/firmware.h"
#include "update/flow_outcome.h"

namespace vanta {

// What a flow works on: the window's link, view, fields and progress display.
struct FlowContext {
  ProbeLink& link;
  DialogView& view;
  DialogFields& fields;
  ProgressDisplay& progress;
  ImageDirectories imageDirs;  // where the image files are looked for, most preferred first
  FirmwareOptions firmware{};
};

// Brings firmware and logic to the newest images on disk (each only when its version differs),
// then reads the identity again and shows the outcome; returns it as well.
FlowOutcome OnUpdate(FlowContext& context);

// After a Yes to "Erase Flash and EPLD?": erases the logic device and all six flash sectors
// (Declined after a No). The first failure is the one returned.
FlowOutcome OnErase(FlowContext& context);

}  // namespace vanta
