#pragma once
// One probe's session, the same for every command: its own link, controller and view on its own
// thread, the connect as the Connect button does it, a hint for a port that failed, a device
// that went away, and leaving the probe as the window does. What happened is collected in a
// ProbeResult for the table and --json; each command adds its own facts.
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/link_trace.h"
#include "cli/terminal_view.h"
#include "dialog/dialog_controller.h"
#include "link/loader.h"
#include "update/image_catalogue.h"

namespace vanta::cli {

class CliCommand;

// What every probe of one run shares, whatever the command: read-only for the probes' threads.
struct JobSettings {
  int speedIndex = 0;
  uint32_t speed = 0;  // a --speed outside the Speed list (asked of the probe); 0: the index's
  ImageDirectories imageDirs;  // where images are looked for, most preferred first
  bool trace = false;
  bool stayInLoader = false;
  YesNoPolicy yesNo = YesNoPolicy::AnswerNo;
};

// One probe: the name the user gave and the device it stands for.
struct ProbeTarget {
  std::string label;   // "COM3" or "/dev/ttyUSB0"
  std::string device;  // what the link opens
  int portIndex = -1;  // Port list index of a COM name, else -1
};

// What a command found on one probe beyond what every command reports; each command has a
// struct of its own.
struct CommandFacts {
  virtual ~CommandFacts() = default;
};

struct ProbeResult {
  std::string label, device;
  bool connected = false;
  bool haveBefore = false, haveAfter = false;
  DeviceIdentity before, after;
  std::string macAddress;
  // The first failure: the flow's outcome and what the command line adds to it. status and error
  // are derived from these alone (ExitStatusOf, OutcomeLine).
  FlowOutcome outcome;
  std::string detail;  // the file and line, the address that differs, ...
  // Why the port failed, as the port layer tells ({"class": "busy", ...}); null where it did not.
  nlohmann::json portReason;
  // How the port refused to open (None when it opened or was never tried).
  OpenFault openFault = OpenFault::None;
  // The device went away under the command: a communication failure whatever the outcome's
  // stage, and error says so.
  bool deviceGone = false;
  ExitStatus status = EXIT_OK;
  std::string error;  // what went wrong, in one line
  std::string hint;   // what the user can do about a port that failed
  double seconds = 0;
  std::shared_ptr<CommandFacts> facts;  // the command's own

  // The command's facts, made on first use.
  template <typename Facts>
  Facts& Own() {
    if (!facts) facts = std::make_shared<Facts>();
    return static_cast<Facts&>(*facts);
  }
  // The command's facts, or nullptr when the run never came as far as making them.
  template <typename Facts>
  const Facts* Find() const {
    return static_cast<const Facts*>(facts.get());
  }
};

// Records a failed outcome in result (only the first counts); status and error follow from it and
// detail alone.
void Fail(ProbeResult& result, const FlowOutcome& outcome, const std::string& detail = "");

class ProbeSession {
 public:
  ProbeSession(const JobSettings& settings, const ProbeTarget& target, Console& console, int slot);

  const JobSettings& Settings() const { return settings_; }
  const ProbeTarget& Target() const { return target_; }
  TerminalView& View() { return view_; }
  DialogController& Controller() { return *controller_; }
  ProbeLink& Link() { return controller_->Link(); }
  ProbeResult& Result() { return result_; }
  // The probe's progress line: a status text, and the numbers of the running step.
  void Status(const std::string& text) { view_.SetStatus(text); }
  ProgressSink& Progress() { return view_; }

  // Records a failure and shows it as the window's message box would.
  void FailAndShow(const FlowOutcome& outcome, const std::string& detail);
  // The versions after a flow: the flow's own on success, otherwise what the probe reports now
  // (a failed flow zeroes them), read quietly.
  void After(bool passed);

  // The whole run: the controller opened, the command's check before the connect, the connect,
  // the command, leaving the probe; never throws.
  ProbeResult Run(const CliCommand& command);

 private:
  bool Connect();
  void ExplainPort();
  void Leave();
  void NoteDeviceGone();

  const JobSettings& settings_;
  const ProbeTarget& target_;
  Console& console_;
  int slot_;
  TerminalView view_;
  LinkTrace trace_;  // outlives the link, which reports to it until it is destroyed
  std::unique_ptr<DialogController> controller_;
  ProbeResult result_;
};

// Runs command on one probe; never throws. slot is the probe's progress line.
ProbeResult RunProbeJob(const CliCommand& command, const JobSettings& settings,
                        const ProbeTarget& target, Console& console, int slot);

}  // namespace vanta::cli
