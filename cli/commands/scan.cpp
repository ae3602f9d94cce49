// scan: every serial device the user could open, tried at once, and what answered on each.
#include <cstdio>
#include <string>

#include "cli/commands/command.h"
#include "cli/output.h"
#include "cli/probe_scan.h"

namespace vanta::cli {
namespace {

class Scan : public CliCommand {
 public:
  void AddOptions(CLI::App&) override {}

  Failure Check(const CheckContext& context) override {
    if (context.namedTargets > 0) return UsageFailure("scan tries every serial device; no --port");
    return Failure::None();
  }

  ExitStatus RunAlone(const JobSettings& settings, Console& console, bool quiet,
                      bool json) override {
    const std::vector<SerialDevice> devices = FindSerialDevices();
    if (!quiet) {
      std::fprintf(stderr, "Scanning %zu serial device%s ...\n", devices.size(),
                   devices.size() == 1 ? "" : "s");
    }
    const std::vector<ScanRow> rows = ScanDevices(devices, ScanSettingsOf(settings), console);
    if (json) {
      std::printf("%s\n", JsonText(ScanJson(rows), 2).c_str());
    } else {
      std::fputs(FormatScan(rows).c_str(), stdout);
    }
    std::fflush(stdout);
    return EXIT_OK;  // the scan ran: what it found is in the list, not in the status
  }
};

const std::string kScanText =
    std::string(ThisHostHelp().scanDevices) +
    " All devices are tried at once with a short connect (up to three attempts, one when "
    "nothing answers at any speed), which touches no flash; a probe is left as every command "
    "leaves it (its firmware running, or its loader with --stay-in-loader).\n\n"
    "Each row shows the port, COM names, by-id name and what was found: a probe's serial "
    "number and loader, firmware and logic versions; that no loader answered; or why the "
    "device cannot be used: " +
    ThisHostHelp().scanUnusable +
    " --json gives the same as an array of objects (port, byId, com, probe, serial, loader, "
    "firmware, logic, or reason as in the other commands' error.reason).\n\n"
    "The exit status is 0 whenever the scan ran, whether or not a probe was found; the list "
    "says what was found. It is 2 for a bad option (scan takes no --port).";

}  // namespace

const HelpPage kScanPage = {"scan", "find the probes on every serial device",
                            "vantalink-cli scan [GLOBAL OPTIONS]", kScanText.c_str(),
                            "vantalink-cli scan\n"
                            "# the serial numbers of the probes found\n"
                            "vantalink-cli scan --json | jq -r '.[] | select(.probe) | .serial'"};

std::unique_ptr<CliCommand> MakeScan() {
  return std::make_unique<Scan>();
}

}  // namespace vanta::cli
