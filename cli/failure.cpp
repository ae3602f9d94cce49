#include "cli/failure.h"

#include <cstdio>

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/output.h"

namespace vanta::cli {

Failure UsageFailure(const std::string& message) {
  Failure failure;
  failure.outcome = FlowOutcome::Failed(FlowStage::Options);
  failure.message = message;
  return failure;
}

// The failure as a program reads it: stage and code decide, the texts only explain.
nlohmann::json ErrorJson(const FlowOutcome& outcome, const std::string& message,
                         const std::string& detail, const nlohmann::json& reason) {
  nlohmann::json error = {{"stage", StageName(outcome.stage)},
                          {"code", outcome.code},
                          {"name", ResultName(outcome.code)},
                          {"message", message}};
  if (!detail.empty()) error["detail"] = detail;
  if (outcome.hasAddress) error["address"] = outcome.address;
  if (!reason.is_null()) error["reason"] = reason;
  return error;
}

int Report(const Failure& failure, bool json) {
  const ExitStatus status = ExitStatusOf(failure.outcome);
  const std::string message =
      failure.message.empty() ? OutcomeSentence(failure.outcome) : failure.message;
  ProgramMessage(message + (failure.detail.empty() ? "" : ": " + failure.detail));
  if (failure.outcome.stage == FlowStage::Options) {
    std::fputs("Run 'vantalink-cli --help' for the options.\n", stderr);
  }
  if (!failure.after.empty()) std::fputs(failure.after.c_str(), stderr);
  std::fflush(stderr);
  if (json) {
    nlohmann::json j = {
        {"result", "failed"},
        {"exitStatus", static_cast<int>(status)},
        {"error", ErrorJson(failure.outcome, message, failure.detail, failure.reason)}};
    for (const auto& [key, value] : failure.extra.items()) j[key] = value;
    std::printf("%s\n", JsonText(j, 2).c_str());
    std::fflush(stdout);
  }
  return status;
}

}  // namespace vanta::cli
