#include "dialog/dialog_controller.h"

#include <utility>

#include "link/loader.h"
#include "setup/setup_block.h"
#include "update/image_catalogue.h"

namespace vanta {

namespace {

constexpr int kConnectAttempts = 10;
constexpr const char* kUpdatePassed = "Updating firmware and logic passed!";
constexpr const char* kUpdateFailed = "Updating firmware and logic failed!";

// The flows hold the wait cursor for their whole run, and the steps they call show message boxes
// of their own. A box must never come up under the wait cursor, so this view lets every level
// rest while a box is shown and takes them up again afterwards.
class CursorRestingView : public StepView {
 public:
  explicit CursorRestingView(StepView& inner) : inner_(inner) {}

  void SetStatus(const std::string& text) override { inner_.SetStatus(text); }
  void SetProgress(uint64_t done, uint64_t total, bool bytes) override {
    inner_.SetProgress(done, total, bytes);
  }
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    for (int i = 0; i < depth_; ++i) inner_.EndWaitCursor();
    const MessageAnswer answer = inner_.ShowMessage(text, caption, icon, buttons);
    for (int i = 0; i < depth_; ++i) inner_.BeginWaitCursor();
    return answer;
  }
  void BeginWaitCursor() override {
    ++depth_;
    inner_.BeginWaitCursor();
  }
  void EndWaitCursor() override {
    if (depth_ == 0) return;
    --depth_;
    inner_.EndWaitCursor();
  }

 private:
  StepView& inner_;
  int depth_ = 0;
};

void ShowVersionLabels(DialogView& view, const DeviceIdentity& identity) {
  view.SetVersionLabel(VersionLabel::Firmware, VersionText(identity.firmwareVersion));
  view.SetVersionLabel(VersionLabel::Logic, VersionText(identity.logicVersion));
}

// Which part of Transmit a code of TransmitSetup stopped.
FlowStage TransmitStage(ResultCode code) {
  switch (code) {
    case SETUP_E_CONFIG_FILE:
      return FlowStage::ConfigFile;
    case SETUP_E_REG_FILE:
      return FlowStage::RegisterFile;
    default:
      return FlowStage::SetupBlock;
  }
}

// What a configuration or register file failure lacked, for the outcome ("" for other failures);
// the file it concerned comes back in the transmit report.
const char* ConfigFaultExpected(ConfigFault fault) {
  switch (fault) {
    case ConfigFault::None:
      return "";
    case ConfigFault::ConfigMissing:
      return "a configuration file that exists and can be opened";
    case ConfigFault::ConfigUnreadable:
      return "a configuration file that can be read to its end";
    case ConfigFault::ConfigTooLarge:
      return "a configuration file under 64 KiB";
    case ConfigFault::RegisterMissing:
      return "a register file that exists and can be opened";
    case ConfigFault::RegisterUnreadable:
      return "a register file that can be read to its end";
    case ConfigFault::RegisterPathTooLong:
      return "a register file path of at most 255 characters";
    case ConfigFault::RegisterImageFull:
      return "a register image under 64 KiB";
  }
  return "";
}

}  // namespace

UpdateOffer UpdateRule(const DialogFields& fields) {
  const DeviceIdentity& id = fields.identity;
  const bool firmware = fields.newestFirmwareVersion != id.firmwareVersion;
  const bool logic = fields.newestLogicVersion != id.logicVersion;
  if (!firmware && !logic) return UpdateOffer::NotNeeded;
  // No directory holds any image: the update could only fail on its first file.
  if (fields.newestFirmwareVersion == 0 && fields.newestLogicVersion == 0) {
    return UpdateOffer::NoImages;
  }
  return UpdateOffer::Offered;
}

FlowOutcome OnUpdate(FlowContext& context) {
  CursorRestingView view(context.view);
  DialogFields& fields = context.fields;
  DeviceIdentity& identity = fields.identity;
  WaitCursor cursor(view);

  UpdateContext update{context.link,
                       view,
                       identity,
                       fields.newestFirmwareVersion,
                       fields.newestLogicVersion,
                       context.progress,
                       context.imageDirs,
                       context.firmware};
  const FlowOutcome outcome = UpdateProbe(update);
  context.firmwareResult = update.firmwareResult;
  // Rebuilt whatever the read gave, once the update came as far as reading the identity again.
  if (outcome.passed || outcome.stage == FlowStage::IdentityRead) {
    fields.macAddressText = MacAddressText(identity.serialNumber);
  }
  if (outcome.passed) {
    ExchangeData(context.view, fields, Exchange::Load);
    view.SetStatus(kUpdatePassed);
    context.view.EnableButton(FlowButton::Update, UpdateRule(fields) != UpdateOffer::NotNeeded);
  } else {
    view.SetStatus(kUpdateFailed);
    identity.firmwareVersion = 0;
    identity.logicVersion = 0;
  }
  ShowVersionLabels(context.view, identity);
  return outcome;
}

FlowOutcome OnErase(FlowContext& context) {
  CursorRestingView view(context.view);
  // No is the default: an Enter meant to dismiss what looks like a notice must not erase.
  if (view.ShowMessage("Erase Flash and EPLD?", "", MessageIcon::Exclamation,
                       MessageButtons::YesNoDefaultNo) != MessageAnswer::Yes) {
    return FlowOutcome::Failed(FlowStage::Declined);
  }
  DialogFields& fields = context.fields;
  WaitCursor cursor(view);
  const FlowOutcome outcome = EraseProbe(context.link, view);
  fields.identity.logicVersion = 0;
  fields.identity.firmwareVersion = 0;
  if (!outcome.passed) {
    view.SetStatus("Erasing Flash and EPLD failed!");
  } else {
    ExchangeData(context.view, fields, Exchange::Load);
    view.SetStatus("Erasing Flash and EPLD passed!");
    context.view.EnableButton(FlowButton::Update, true);
  }
  // Both versions now count as none, and read so as every other label does.
  ShowVersionLabels(context.view, fields.identity);
  return outcome;
}

DialogController::DialogController(DialogView& view, std::unique_ptr<ProbeLink> link,
                                   ImageDirectories imageDirs)
    : view_(view), link_(std::move(link)), imageDirs_(std::move(imageDirs)) {
  firmware_.imageDirs = imageDirs_;
  progress_.sink = &view_;
}

DialogController::DialogController(DialogView& view, ImageDirectories imageDirs)
    : DialogController(view, std::make_unique<ProbeLink>(), std::move(imageDirs)) {}

void DialogController::OnOpen() {
  ExchangeData(view_, fields_, Exchange::Load);
  view_.SetStatus("");
  fields_.identity.loaderVersion = 0;
  fields_.identity.firmwareVersion = 0;
  fields_.identity.logicVersion = 0;

  // Only the default board's logic files count here, also for probes updated from the other set.
  fields_.newestFirmwareVersion = FindNewestVersion(kFirmwareBase, imageDirs_);
  fields_.newestLogicVersion = FindNewestVersion(kLogicBase, imageDirs_);
  view_.SetVersionLabel(VersionLabel::NewestFirmware, VersionText(fields_.newestFirmwareVersion));
  view_.SetVersionLabel(VersionLabel::NewestLogic, VersionText(fields_.newestLogicVersion));

  view_.EnableButton(FlowButton::Connect, true);
  view_.EnableButton(FlowButton::Current, false);
  view_.EnableButton(FlowButton::Transmit, false);
  view_.EnableButton(FlowButton::Update, false);
  view_.EnableButton(FlowButton::Erase, false);
}

void DialogController::LeaveProbe() {
  WaitCursor wait(view_);
  view_.SetStatus("Starting firmware please wait....");
  // Neither result matters: without a link the transaction refuses at once, and a probe that
  // does not start its firmware is no reason to keep the user in the dialog.
  StartFirmware(*link_);
  link_->CloseLink();
}

bool DialogController::OnOk() {
  LeaveProbe();
  return ExchangeData(view_, fields_, Exchange::Save);
}

void DialogController::OnCancel() {
  LeaveProbe();
}

void DialogController::ShowCurrentVersions() {
  const DeviceIdentity& id = fields_.identity;
  view_.SetVersionLabel(VersionLabel::Loader, VersionText(id.loaderVersion));
  view_.SetVersionLabel(VersionLabel::Firmware, VersionText(id.firmwareVersion));
  view_.SetVersionLabel(VersionLabel::Logic, VersionText(id.logicVersion));
}

void DialogController::ApplyUpdateRule() {
  view_.EnableButton(FlowButton::Update, UpdateRule(fields_) != UpdateOffer::NotNeeded);
}

FlowOutcome DialogController::OnConnect() {
  if (!ExchangeData(view_, fields_, Exchange::Save)) return FlowOutcome::Failed(FlowStage::Form);

  WaitCursor wait(view_);
  view_.SetStatus("Connecting to Vanta Loader ...");
  ResultCode result = SESSION_E_CLOSED;
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    result = requestedSpeed_ != 0
                 ? link_->OpenLink(DeviceNameFromIndex(fields_.portIndex), requestedSpeed_)
                 : link_->OpenLinkByIndex(fields_.portIndex, fields_.speedIndex);
    if (result != RESULT_OK) {
      link_->CloseLink();
      continue;
    }
    result = ReadIdentity(*link_, fields_.identity);
    // Rebuilt whatever the read gave; the MAC label shows it only after a successful read.
    fields_.macAddressText = MacAddressText(fields_.identity.serialNumber);
    if (result == RESULT_OK) {
      ExchangeData(view_, fields_, Exchange::Load);
      ShowCurrentVersions();
      break;
    }
    link_->CloseLink();
  }
  wait.End();

  if (result != RESULT_OK || fields_.identity.loaderVersion == 0) {
    link_->CloseLink();
    ShowError(view_, result != RESULT_OK ? "Cannot connect to Vanta loader!"
                                         : "There is no Vanta7 connected!");
    view_.SetStatus("Connecting to Vanta loader failed!");
    return result != RESULT_OK ? FlowOutcome::Failed(FlowStage::Connect, result)
                               : FlowOutcome::Failed(FlowStage::NoProbe);
  }

  view_.SetStatus("Connecting to Vanta Loader passed!");
  ShowCurrentVersions();
  view_.EnableButton(FlowButton::Connect, false);
  view_.EnableButton(FlowButton::Current, true);
  view_.EnableButton(FlowButton::Erase, true);
  view_.EnableButton(FlowButton::Transmit, true);
  ApplyUpdateRule();
  return FlowOutcome::Passed();
}

FlowOutcome DialogController::OnCurrent() {
  WaitCursor wait(view_);
  view_.SetStatus("Reading current versions, please wait.");
  const ResultCode result = ReadIdentity(*link_, fields_.identity);
  fields_.macAddressText = MacAddressText(fields_.identity.serialNumber);
  if (result == RESULT_OK) {
    ExchangeData(view_, fields_, Exchange::Load);
    ShowCurrentVersions();
  }
  wait.End();

  if (result != RESULT_OK) {
    ShowError(view_, "Communication with Vanta failed!");
    view_.SetStatus("Reading current versions failed!");
    return FlowOutcome::Failed(FlowStage::IdentityRead, result);
  }
  view_.SetStatus("Reading current versions passed!");
  ApplyUpdateRule();
  return FlowOutcome::Passed();
}

FlowContext DialogController::Context() {
  return FlowContext{*link_, view_, fields_, progress_, imageDirs_, firmware_};
}

FlowOutcome DialogController::OnUpdate() {
  FlowContext context = Context();
  const FlowOutcome outcome = vanta::OnUpdate(context);
  lastFirmware_ = context.firmwareResult;
  return outcome;
}

FlowOutcome DialogController::OnErase() {
  FlowContext context = Context();
  return vanta::OnErase(context);
}

FlowOutcome DialogController::OnTransmit(TransmitReport* report) {
  if (!ExchangeData(view_, fields_, Exchange::Save)) return FlowOutcome::Failed(FlowStage::Form);

  TransmitReport local;
  TransmitReport& out = report != nullptr ? *report : local;
  WaitCursor wait(view_);
  view_.SetStatus("Writing setup data ....");
  const ResultCode result = TransmitSetup(*link_, fields_.setup, &out);
  wait.End();

  if (result == RESULT_OK) {
    view_.SetStatus("Writing setup data passed");
    return FlowOutcome::Passed();
  }
  view_.SetStatus("Writing setup data failed!");
  view_.ShowMessage("Transfer failed!", "Error", MessageIcon::Exclamation, MessageButtons::Ok);
  FlowOutcome outcome = FlowOutcome::Failed(TransmitStage(result), result);
  outcome.problem.expected = ConfigFaultExpected(out.problem.fault);
  return outcome;
}

}  // namespace vanta
