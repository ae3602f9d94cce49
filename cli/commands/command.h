#pragma once
// One command of vantalink-cli: its name and traits, its options and their checks, its run on a
// connected probe, and how it shows what it found, as text and as JSON. Adding a command is a
// file of its own beside these and a row in the table (command_table.cpp).
#include <CLI/CLI.hpp>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/failure.h"
#include "cli/help_text.h"
#include "cli/probe_scan.h"
#include "cli/probe_session.h"
#include "cli/settings_file.h"

namespace vanta::cli {

struct CommandTraits {
  bool perProbe = true;    // runs on connected probes; false: scan and ports run on their own
  bool watchable = false;  // --watch may serve it on every probe plugged in
  bool oneObject = false;  // --json prints one object for one probe (else always an array)
  bool table = false;      // the result table follows its text also for one probe
};

// What a command's checks may look at: the global options already checked, and where the probes
// come from.
struct CheckContext {
  const JobSettings& settings;
  const StoredSettings& stored;
  size_t namedTargets = 0;  // probes named with --port or --ports (0: saved port or a scan)
  bool json = false;
  bool interactive = false;  // standard input is a terminal to ask on
  bool watch = false;
};

class CliCommand {
 public:
  virtual ~CliCommand() = default;

  // Declares the command's options and positional arguments, with their validators.
  virtual void AddOptions(CLI::App& command) = 0;
  // What the options leave to check together, before any probe is touched; a refusal comes back
  // as a Failure (Passed() when there is none).
  virtual Failure Check(const CheckContext&) { return Failure::None(); }
  // Once the probes are known, before any is touched (the one question of erase).
  virtual Failure Confirm(Console&, const std::vector<ProbeTarget>&, JobSettings&) {
    return Failure::None();
  }
  // The operation on one connected probe; called from that probe's thread, so it changes
  // nothing but the session and its result.
  virtual void Run(ProbeSession&) const {}
  // Commands that serve no probe (perProbe false) run here instead.
  virtual ExitStatus RunAlone(const JobSettings&, Console&, bool /*quiet*/, bool /*json*/) {
    return EXIT_OK;
  }
  // The five setup texts the dialog's fields hold while the command runs (the connect checks them
  // as the window's save exchange does): the window's defaults, unless the command writes them.
  virtual SetupTexts Texts() const { return DefaultSetupTexts(); }
  // After the controller has looked up the images, before the probe is connected: false ends
  // the run there (the failure recorded in the session's result).
  virtual bool BeforeConnect(ProbeSession&) const { return true; }

  // What one probe's run found, as text (single: the only probe of the run) and as JSON keys
  // beside those every result has.
  virtual std::string Text(const ProbeResult&, bool /*single*/) const { return ""; }
  virtual void AddJson(const ProbeResult&, nlohmann::json&) const {}
};

// One row of the command table.
struct CommandRow {
  const char* name;
  CommandTraits traits;
  const HelpPage* help;
  std::unique_ptr<CliCommand> (*make)();
};

// Every command, in the order the help lists them.
const std::vector<CommandRow>& CommandTable();
const CommandRow* FindCommand(const std::string& name);

// Every result as JSON: what all commands share, then the command's own keys.
nlohmann::json ResultJson(const CliCommand& command, const ProbeResult& result);

// The help pages of the commands, one in each command's file.
extern const HelpPage kLinkCheckPage, kInfoPage, kReadMemoryPage, kUpdatePage, kErasePage,
    kTransmitPage, kBackupPage, kRestorePage, kSetupPage, kScanPage, kPortsPage;

std::unique_ptr<CliCommand> MakeLinkCheck();
std::unique_ptr<CliCommand> MakeInfo();
std::unique_ptr<CliCommand> MakeReadMemory();
std::unique_ptr<CliCommand> MakeUpdate();
std::unique_ptr<CliCommand> MakeErase();
std::unique_ptr<CliCommand> MakeTransmit();
std::unique_ptr<CliCommand> MakeBackup();
std::unique_ptr<CliCommand> MakeRestore();
std::unique_ptr<CliCommand> MakeSetupShow();
std::unique_ptr<CliCommand> MakeScan();
std::unique_ptr<CliCommand> MakePorts();

// Shared by the commands' renderers.
std::string Hex32(uint32_t value);
// The versions a result read before and after the command, as JSON keys "before" and "after".
void AddBeforeAfter(const ProbeResult& result, nlohmann::json& j);
// The versions as the keys loader, firmware, logic and their numbers.
void AddVersions(const DeviceIdentity& identity, nlohmann::json& j);
// "COM3" (any case) gives 3; anything else -1.
int ComNameNumber(const std::string& text);
// How a scan for probes connects: at the run's speed, leaving the probes as the command would.
ScanSettings ScanSettingsOf(const JobSettings& settings);
// A decimal or 0x hexadecimal number without a sign.
bool ParseNumber(const std::string& text, uint64_t& value);
// Checks an option's text as such a number from low to high; what says what it stands for.
CLI::Validator NumberIn(uint64_t low, uint64_t high, const std::string& what);
// Bytes a terminal and JSON can show: control bytes and bytes of 0x80 or more become '.'.
std::string Printable(std::string text);

}  // namespace vanta::cli
