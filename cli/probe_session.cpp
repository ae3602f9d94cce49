#include "cli/probe_session.h"

#include <chrono>
#include <exception>

#include "cli/commands/command.h"
#include "cli/port_hint.h"
#include "platform/forwarding_port.h"

namespace vanta::cli {

using Clock = std::chrono::steady_clock;

void Fail(ProbeResult& result, const FlowOutcome& outcome, const std::string& detail) {
  if (result.status != EXIT_OK) return;  // the first failure is the one that counts
  result.outcome = outcome;
  result.detail = detail;
  result.status = ExitStatusOf(outcome);
  result.error = OutcomeLine(outcome, detail);
}

ProbeSession::ProbeSession(const JobSettings& settings, const ProbeTarget& target, Console& console,
                           int slot)
    : settings_(settings),
      target_(target),
      console_(console),
      slot_(slot),
      view_(console, slot, settings.yesNo),
      trace_(console, target.label) {
  result_.label = target.label;
  result_.device = target.device;
  auto link = std::make_unique<ProbeLink>(
      std::make_unique<FixedDevicePort>(target.device, MakeSerialPort()));
  if (settings.trace) link->SetObserver(&trace_);
  controller_ = std::make_unique<DialogController>(view_, std::move(link), settings.imageDirs);
}

void ProbeSession::FailAndShow(const FlowOutcome& outcome, const std::string& detail) {
  Fail(result_, outcome, detail);
  view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
}

void ProbeSession::After(bool passed) {
  result_.after = controller_->Fields().identity;
  result_.haveAfter = true;
  if (passed || !Link().IsOpen()) return;
  DeviceIdentity now;
  if (ReadIdentity(Link(), now) == RESULT_OK) result_.after = now;
}

ProbeResult ProbeSession::Run(const CliCommand& command) {
  const Clock::time_point start = Clock::now();
  DialogController& controller = *controller_;
  DialogFields& fields = controller.Fields();
  // Start-up fills the persisted fields before the dialog opens; so does the command line.
  fields.portIndex = target_.portIndex;
  fields.speedIndex = settings_.speedIndex;
  controller.SetRequestedSpeed(settings_.speed);
  fields.setup = command.Texts();
  controller.OnOpen();
  if (command.BeforeConnect(*this)) {
    if (Connect()) {
      command.Run(*this);
      Leave();
    }
    NoteDeviceGone();
  }
  result_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  console_.Status(slot_, result_.status == EXIT_OK ? "done" : "failed: " + result_.error);
  return result_;
}

bool ProbeSession::Connect() {
  const FlowOutcome outcome = controller_->OnConnect();
  const DialogFields& fields = controller_->Fields();
  if (outcome.passed) {
    result_.connected = true;
    result_.before = fields.identity;
    result_.haveBefore = true;
    result_.macAddress = fields.macAddressText;
    return true;
  }
  Fail(result_, outcome);
  if (ExitStatusOf(outcome) == EXIT_CONNECT && !Link().DeviceGone()) ExplainPort();
  return false;
}

void ProbeSession::ExplainPort() {
  const OpenFailure& failure = Link().PortOpenFailure();
  result_.hint = PortHint(target_.label, target_.device, failure);
  result_.portReason = PortReasonJson(failure);
  result_.openFault = failure.fault;
  console_.Note(slot_, "hint: " + result_.hint, true);
}

// Leaves the probe as the window does when it closes, unless the user wants the loader kept.
void ProbeSession::Leave() {
  if (settings_.stayInLoader) {
    Link().CloseLink();
  } else {
    controller_->OnCancel();
  }
}

// A device that went away under the command ends it as a communication failure, whatever step
// noticed first (a connect that lost its device included).
void ProbeSession::NoteDeviceGone() {
  if (!Link().DeviceGone()) return;
  result_.deviceGone = true;
  result_.status = EXIT_COMM;
  result_.error = DeviceGoneText(target_.device);
  result_.portReason = DeviceGoneReasonJson();
  result_.hint.clear();
}

ProbeResult RunProbeJob(const CliCommand& command, const JobSettings& settings,
                        const ProbeTarget& target, Console& console, int slot) {
  try {
    return ProbeSession(settings, target, console, slot).Run(command);
  } catch (const std::exception& error) {
    // Nothing in the core throws; this guards a probe's thread against the unexpected
    // (allocation failure) so the other probes still finish.
    ProbeResult result;
    result.label = target.label;
    result.device = target.device;
    result.status = EXIT_OTHER;
    result.error = std::string("internal error: ") + error.what();
    return result;
  }
}

}  // namespace vanta::cli
