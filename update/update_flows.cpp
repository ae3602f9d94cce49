#include "update/update_flows.h"

#include "link/loader.h"
#include "platform/files.h"
#include "update/jedec.h"
#include "update/logic.h"

namespace vanta {

namespace {

constexpr const char* kUpdatePassed = "Updating firmware and logic passed!";
constexpr const char* kUpdateFailed = "Updating firmware and logic failed!";

// The flows hold the wait cursor for their whole run, and the steps they call show message boxes
// of their own. A box must never come up under the wait cursor, so this view lets every level
// rest while a box is shown and takes them up again afterwards.
class CursorRestingView : public DialogView {
 public:
  explicit CursorRestingView(DialogView& inner) : inner_(inner) {}

  void SetStatus(const std::string& text) override { inner_.SetStatus(text); }
  void SetVersionLabel(VersionLabel label, const std::string& text) override {
    inner_.SetVersionLabel(label, text);
  }
  void EnableButton(FlowButton button, bool enabled) override {
    inner_.EnableButton(button, enabled);
  }
  ControlValues ReadControls() override { return inner_.ReadControls(); }
  void WriteControls(const ControlValues& values) override { inner_.WriteControls(values); }
  void FocusField(EditField field) override { inner_.FocusField(field); }
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
  DialogView& inner_;
  int depth_ = 0;
};

// Reads the logic image and runs the chain up to the verification; leave-access is sent in every
// case, also when the image could not be read and access was never entered. The outcome is the
// first failing step's.
FlowOutcome UpdateLogic(FlowContext& context, DialogView& view) {
  DialogFields& fields = context.fields;
  const std::string ues = "B6001E9" + VersionDigits(fields.newestLogicVersion);
  const std::string path = FindImagePath(LogicImageBase(fields.identity.serialNumber),
                                         fields.newestLogicVersion, context.imageDirs);
  FuseMap map;
  ProbeLink& link = context.link;
  FlowOutcome outcome;
  const int result =
      ReadJedecFile(view, path, map, &outcome) && OpenLogicAccess(link, view, &outcome) &&
      CheckLogicDeviceType(link, view, &outcome) && EraseLogicDevice(link, view, &outcome) &&
      ProgramFuseMap(link, view, map, ues, &outcome) &&
      VerifyFuseMap(link, view, map, ues, &outcome);
  // A failed leave shows its box, but the window has never counted it against the update.
  CloseLogicAccess(link, view);
  return result ? FlowOutcome::Passed() : outcome;
}

void ShowVersionLabels(DialogView& view, const DeviceIdentity& identity) {
  view.SetVersionLabel(VersionLabel::Firmware, VersionText(identity.firmwareVersion));
  view.SetVersionLabel(VersionLabel::Logic, VersionText(identity.logicVersion));
}

}  // namespace

FlowOutcome OnUpdate(FlowContext& context) {
  CursorRestingView view(context.view);
  DialogFields& fields = context.fields;
  DeviceIdentity& identity = fields.identity;
  WaitCursor cursor(view);

  FlowOutcome outcome;
  if (fields.newestFirmwareVersion != identity.firmwareVersion) {
    FirmwareOptions options = context.firmware;
    if (options.imageDirs.empty()) options.imageDirs = context.imageDirs;
    const StatusSink status = [&view](const std::string& text) { view.SetStatus(text); };
    if (ProgramFirmware(context.link, fields.newestFirmwareVersion, status, context.progress,
                        options, &outcome) != RESULT_OK) {
      ShowError(view, "Firmware update failed!");
    }
  }
  if (outcome.passed && fields.newestLogicVersion != identity.logicVersion) {
    outcome = UpdateLogic(context, view);
  }
  if (outcome.passed) {
    const ResultCode rc = ReadIdentity(context.link, identity);
    fields.macAddressText = MacAddressText(identity.serialNumber);
    if (rc != RESULT_OK) outcome = FlowOutcome::Failed(FlowStage::IdentityRead, rc);
  }
  const bool ok = outcome.passed;
  if (ok) {
    ExchangeData(view, fields, Exchange::Load);
    view.SetStatus(kUpdatePassed);
    const bool current = fields.newestFirmwareVersion == identity.firmwareVersion &&
                         fields.newestLogicVersion == identity.logicVersion;
    view.EnableButton(FlowButton::Update, !current);
  } else {
    view.SetStatus(kUpdateFailed);
    identity.firmwareVersion = 0;
    identity.logicVersion = 0;
  }
  ShowVersionLabels(view, identity);
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
  ProbeLink& link = context.link;
  WaitCursor cursor(view);
  view.SetStatus("Erasing Flash and EPLD ...");

  FlowOutcome outcome;
  const int logic = OpenLogicAccess(link, view, &outcome) &&
                    CheckLogicDeviceType(link, view, &outcome) &&
                    EraseLogicDevice(link, view, &outcome);
  CloseLogicAccess(link, view);
  fields.identity.logicVersion = 0;

  // The flash is erased whatever became of the logic.
  view.SetStatus("Erasing all flash sectors ...");
  const ResultCode flash = EraseAllSectors(link);
  fields.identity.firmwareVersion = 0;
  if (outcome.passed && flash != RESULT_OK) {
    outcome = FlowOutcome::Failed(FlowStage::FlashErase, flash);
  }

  if (flash != RESULT_OK || !logic) {
    view.SetStatus("Erasing Flash and EPLD failed!");
  } else {
    ExchangeData(view, fields, Exchange::Load);
    view.SetStatus("Erasing Flash and EPLD passed!");
    view.EnableButton(FlowButton::Update, true);
  }
  // Both versions now count as none, and read so as every other label does.
  ShowVersionLabels(view, fields.identity);
  return outcome;
}

}  // namespace vanta
