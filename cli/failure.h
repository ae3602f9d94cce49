#pragma once
// The one door every failure and refusal of the command line goes through: its exit status from
// the one table (ExitStatusOf), a line on standard error, and under --json the error object that
// a probe's failed result carries too.
#include <nlohmann/json.hpp>
#include <string>

#include "update/flow_outcome.h"

namespace vanta::cli {

struct Failure {
  FlowOutcome outcome;    // passed: no failure
  std::string message;    // what went wrong, in one sentence ("" : the outcome's own sentence)
  std::string detail;     // the file and line, the option and its text, ...
  nlohmann::json reason;  // why a port failed, as the port layer tells; null where it did not
  nlohmann::json extra = nlohmann::json::object();  // keys beside "error" ("line", "scan")
  std::string after;  // text printed below the line on standard error (the scan's list)

  static Failure None() { return {}; }
  explicit operator bool() const { return !outcome.passed; }
};

// A refusal of the options or arguments (exit status 2): message names the option and its text.
Failure UsageFailure(const std::string& message);

// The error object: stage, code, name, message, and detail, address and reason where known.
nlohmann::json ErrorJson(const FlowOutcome& outcome, const std::string& message,
                         const std::string& detail, const nlohmann::json& reason);

// Reports a failure that ends the run before (or instead of) any probe's result: the line on
// standard error, and with json the object {"result", "exitStatus", "error", ...extra} on
// standard output. Returns the failure's exit status.
int Report(const Failure& failure, bool json);

}  // namespace vanta::cli
