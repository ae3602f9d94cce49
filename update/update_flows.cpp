#include "update/update_flows.h"

#include "update/jedec.h"
#include "update/logic.h"

namespace vanta {

namespace {

// Reads the logic image and runs the chain up to the verification; leave-access is sent in every
// case, also when the image could not be read and access was never entered. The outcome is the
// first failing step's.
FlowOutcome UpdateLogic(UpdateContext& context) {
  StepView& view = context.view;
  const std::string ues = "B6001E9" + VersionDigits(context.newestLogicVersion);
  const std::string path = FindImagePath(LogicImageBase(context.identity.serialNumber),
                                         context.newestLogicVersion, context.imageDirs);
  FuseMap map;
  ProbeLink& link = context.link;
  // The command line's opt-in paths (--fast, --verify) read a row lost on the line again; the
  // window reads each row once.
  const FirmwareOptions& optIn = context.firmware;
  const int reads = optIn.mergeRecords || optIn.verifyReadBack ? kTriesPerPiece : 1;
  FlowOutcome outcome;
  const int result =
      ReadJedecFile(view, path, map, &outcome) && OpenLogicAccess(link, view, &outcome) &&
      CheckLogicDeviceType(link, view, &outcome) && EraseLogicDevice(link, view, &outcome) &&
      ProgramFuseMap(link, view, map, ues, &outcome) &&
      VerifyFuseMap(link, view, map, ues, &outcome, reads);
  // A failed leave shows its box, but the window has never counted it against the update.
  CloseLogicAccess(link, view);
  return result ? FlowOutcome::Passed() : outcome;
}

}  // namespace

FlowOutcome UpdateProbe(UpdateContext& context) {
  StepView& view = context.view;
  DeviceIdentity& identity = context.identity;
  FlowOutcome outcome;
  if (context.newestFirmwareVersion != identity.firmwareVersion) {
    FirmwareOptions options = context.firmware;
    if (options.imageDirs.empty()) options.imageDirs = context.imageDirs;
    const StatusSink status = [&view](const std::string& text) { view.SetStatus(text); };
    context.firmwareResult = ProgramFirmware(context.link, context.newestFirmwareVersion, status,
                                             context.progress, options);
    outcome = context.firmwareResult.outcome;
    if (context.firmwareResult.code != RESULT_OK) {
      ShowError(view, "Firmware update failed!");
    }
  }
  if (outcome.passed && context.newestLogicVersion != identity.logicVersion) {
    outcome = UpdateLogic(context);
  }
  if (outcome.passed) {
    const ResultCode rc = ReadIdentity(context.link, identity);
    if (rc != RESULT_OK) outcome = FlowOutcome::Failed(FlowStage::IdentityRead, rc);
  }
  return outcome;
}

FlowOutcome EraseProbe(ProbeLink& link, StepView& view) {
  view.SetStatus("Erasing Flash and EPLD ...");
  FlowOutcome outcome;
  if (OpenLogicAccess(link, view, &outcome) && CheckLogicDeviceType(link, view, &outcome)) {
    EraseLogicDevice(link, view, &outcome);
  }
  CloseLogicAccess(link, view);

  // The flash is erased whatever became of the logic.
  view.SetStatus("Erasing all flash sectors ...");
  const ResultCode flash = EraseAllSectors(link);
  if (outcome.passed && flash != RESULT_OK) {
    outcome = FlowOutcome::Failed(FlowStage::FlashErase, flash);
  }
  return outcome;
}

}  // namespace vanta
