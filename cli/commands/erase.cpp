// erase: the Erase button's flow, asked once for all probes, or not at all with --yes.
#include "cli/commands/command.h"

namespace vanta::cli {
namespace {

class Erase : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_flag("-y,--yes", yes_, "erase without asking");
  }

  Failure Check(const CheckContext& context) override {
    if (context.watch && !yes_) {
      return UsageFailure("--watch erases every probe plugged in without asking: add --yes");
    }
    if (!yes_ && !context.interactive) {
      Failure refused;
      refused.outcome = FlowOutcome::Failed(FlowStage::Declined);
      refused.message =
          "erase refused: standard input is no terminal to confirm on; add --yes to erase "
          "without asking";
      return refused;
    }
    return Failure::None();
  }

  // One question for the whole tray, before any probe is touched.
  Failure Confirm(Console& console, const std::vector<ProbeTarget>& targets,
                  JobSettings& settings) override {
    if (!yes_) {
      std::string question = "Erase Flash and EPLD?";
      if (targets.size() > 1) {
        question += " (" + std::to_string(targets.size()) + " probes:";
        for (const ProbeTarget& target : targets) question += " " + target.label;
        question += ")";
      }
      if (!console.AskYesNo(question)) {
        Failure declined;
        declined.outcome = FlowOutcome::Failed(FlowStage::Declined);
        declined.message = "erase not confirmed; nothing erased";
        return declined;
      }
    }
    settings.yesNo = YesNoPolicy::AnswerYes;
    return Failure::None();
  }

  void Run(ProbeSession& session) const override {
    DialogController& controller = session.Controller();
    const FlowOutcome outcome = controller.OnErase();
    if (!outcome.passed) Fail(session.Result(), outcome);
    if (outcome.stage == FlowStage::Declined) {
      session.Result().after = controller.Fields().identity;
      session.Result().haveAfter = true;
      return;
    }
    session.After(outcome.passed);
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override { AddBeforeAfter(r, j); }

 private:
  bool yes_ = false;
};

}  // namespace

const HelpPage kErasePage = {
    "erase", "erase the probe's flash and logic", "vantalink-cli erase [--yes] [GLOBAL OPTIONS]",
    "Does what the Erase button does: erases the logic device and all six flash sectors, the "
    "network setup, the stand-alone configuration and the firmware included; the probe keeps "
    "only its loader.\n\n"
    "On a terminal it asks \"Erase Flash and EPLD?\" once for all probes. --yes skips the "
    "question. Without --yes and without a terminal on standard input it refuses and erases "
    "nothing (exit status 8).",
    "vantalink-cli erase --port COM1\n"
    "vantalink-cli erase --yes --ports COM1,COM2"};

std::unique_ptr<CliCommand> MakeErase() {
  return std::make_unique<Erase>();
}

}  // namespace vanta::cli
