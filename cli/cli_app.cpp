#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "cli/completion.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/help_text.h"
#include "cli/manual.h"
#include "cli/output.h"
#include "cli/probe_job.h"
#include "cli/probe_scan.h"
#include "cli/settings_file.h"
#include "cli/watch.h"
#include "link/link_session.h"
#include "platform/files.h"
#include "platform/ports.h"
#include "platform/serial_devices.h"
#include "platform/terminal.h"

namespace vanta::cli {
namespace {

constexpr uint32_t kMaxReadCount = 0x100000;  // the whole flash

// Everything the command line says, before it is checked.
struct Options {
  std::vector<std::string> ports;
  std::string portList;
  uint32_t speed = 0;  // 0: the saved speed
  std::string imageDir;
  bool json = false, trace = false, stayInLoader = false;
  int verbose = 0;
  bool quiet = false;
  int transactions = 5;
  std::string address, count;
  bool firmwareOnly = false, fast = false, verify = false, noSkipErased = false;
  bool yes = false;
  std::string ip, mask, gateway, host, config;
  std::vector<std::string> map;
  std::string unmap;
  std::string file, range;
  std::string setupAction, extract;
  bool watch = false;
  std::string watchDir, log;
};

struct Commands {
  CLI::App* linkCheck;
  CLI::App* info;
  CLI::App* readMemory;
  CLI::App* update;
  CLI::App* erase;
  CLI::App* transmit;
  CLI::App* ports;
  CLI::App* backup;
  CLI::App* restore;
  CLI::App* setup;
  CLI::App* scan;
  CLI::Option* ip;
  CLI::Option* mask;
  CLI::Option* gateway;
  CLI::Option* host;
  CLI::Option* config;
  CLI::Option* speed;
};

Commands BuildApp(CLI::App& app, Options& o) {
  app.formatter(std::make_shared<ManFormatter>());
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command

  app.add_option("-p,--port", o.ports,
                 "a probe's port: COMn or a device path; repeat it for several probes")
      ->allow_extra_args(false)  // one port an occurrence, so "--port COM1 ADDR COUNT" parses
      ->option_text("COMn|DEVICE");
  app.add_option("--ports", o.portList, "several ports at once, separated by commas")
      ->option_text("COM1,COM2,...");
  Commands c{};
  c.speed = app.add_option("-s,--speed", o.speed,
                           "line speed in bit/s: 9600, 19200, 38400, 57600, 115200 or any other "
                           "rate the port and "
                           "probe take, such as 460800 or 921600 (default: "
                           "the window's last choice, else 9600)")
                ->option_text("BITS");
  app.add_option("--image-dir", o.imageDir,
                 "where the image files lie (default: beside the program, "
                 "~/.local/share/Norvane/vantaLink/images and /usr/share/vantalink/images)")
      ->option_text("DIR");
  app.add_flag("--json", o.json, "machine-readable results on standard output");
  app.add_flag("--trace", o.trace,
               "every frame each way, speed changes and purges on standard error, with a "
               "millisecond time stamp");
  app.add_flag("-v,--verbose", o.verbose, "more output: every status text");
  app.add_flag("-q,--quiet", o.quiet, "less output: no progress, only results and errors");
  app.add_flag("--stay-in-loader", o.stayInLoader,
               "leave the probe in its loader instead of starting its firmware at the end");
  app.add_flag("--watch", o.watch,
               "a bench: serve every serial device plugged in from now on, once each time it is "
               "plugged in (update, erase --yes, transmit, info); Ctrl-C lets the probes being "
               "served finish and ends, a second Ctrl-C abandons them at once");
  app.add_option("--watch-dir", o.watchDir,
                 "where --watch looks for devices (default: /dev/serial/by-id)")
      ->option_text("DIR");
  app.add_option("--log", o.log, "with --watch: append one JSON object a probe to FILE")
      ->option_text("FILE");

  c.linkCheck = app.add_subcommand("link-check", FindHelpPage("link-check").summary);
  c.linkCheck->add_option("-n,--count", o.transactions, "transactions to time (default 5)")
      ->check(CLI::Range(1, 10000))
      ->option_text("N");

  c.info = app.add_subcommand("info", FindHelpPage("info").summary);

  c.readMemory = app.add_subcommand("read-memory", FindHelpPage("read-memory").summary);
  c.readMemory->add_option("ADDR", o.address, "first address (decimal or 0x hex)")->required();
  c.readMemory->add_option("COUNT", o.count, "number of bytes, 1 to 1048576")->required();

  c.update = app.add_subcommand("update", FindHelpPage("update").summary);
  c.update->add_flag("--firmware-only", o.firmwareOnly,
                     "program just the newest firmware image, whatever the probe reports");
  c.update->add_flag("--fast", o.fast, "merge contiguous records into writes of up to 1024 bytes");
  c.update->add_flag("--verify", o.verify, "read the firmware back and compare it");
  c.update->add_flag("--no-skip-erased", o.noSkipErased,
                     "with --fast, write runs of 0xFF too instead of leaving them to the erase");

  c.erase = app.add_subcommand("erase", FindHelpPage("erase").summary);
  c.erase->add_flag("-y,--yes", o.yes, "erase without asking");

  c.transmit = app.add_subcommand("transmit", FindHelpPage("transmit").summary);
  c.ip = c.transmit->add_option("--ip", o.ip, "the probe's IP address")->option_text("A");
  c.mask = c.transmit->add_option("--mask", o.mask, "subnet mask")->option_text("M");
  c.gateway = c.transmit->add_option("--gateway", o.gateway, "default gateway")->option_text("G");
  c.host = c.transmit
               ->add_option("--host", o.host,
                            "configuration host IP address; 255.255.255.255 stores the "
                            "configuration file in the probe")
               ->option_text("H");
  c.config = c.transmit->add_option("--config", o.config, "configuration file name or path")
                 ->option_text("FILE");

  c.backup = app.add_subcommand("backup", FindHelpPage("backup").summary);
  c.backup->add_option("FILE", o.file, "the S-record file to write")->required();
  c.backup
      ->add_option("--range", o.range,
                   "just LEN bytes from ADDR (decimal or 0x hex) instead of every sector "
                   "but the loader's")
      ->option_text("ADDR:LEN");
  c.restore = app.add_subcommand("restore", FindHelpPage("restore").summary);
  c.restore->add_option("FILE", o.file, "the S-record file to program")->required();

  c.setup = app.add_subcommand("setup", FindHelpPage("setup").summary);
  c.setup->add_option("ACTION", o.setupAction, "show")->required()->check(CLI::IsMember({"show"}));
  c.setup
      ->add_option("--extract", o.extract,
                   "write the stored configuration file and register files into DIR")
      ->option_text("DIR");

  c.scan = app.add_subcommand("scan", FindHelpPage("scan").summary);

  c.ports = app.add_subcommand("ports", FindHelpPage("ports").summary);
  c.ports->add_option("--map", o.map, "point COMn at DEVICE")
      ->expected(2)
      ->option_text("COMn DEVICE");
  c.ports->add_option("--unmap", o.unmap, "remove the link COMn")->option_text("COMn");
  return c;
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "vantalink-cli: %s\nRun 'vantalink-cli --help' for the options.\n",
               text.c_str());
  return EXIT_USAGE;
}

bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end != nullptr && *end == '\0';
}

// "COM3" (any case) gives 3; anything else -1.
int ComNameNumber(const std::string& text) {
  if (text.size() < 4) return -1;
  std::string upper;
  for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.rfind("COM", 0) != 0) return -1;
  return ComNumber(upper);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

int RunPorts(const Options& o) {
  if (!o.map.empty()) {
    int number = ComNameNumber(o.map[0]);
    if (number < 1)
      return UsageError("--map takes COMn and a device, e.g. --map COM5 /dev/ttyUSB0");
    std::string error;
    if (!MapPort(number, o.map[1], error)) {
      std::fprintf(stderr, "vantalink-cli: %s\n", error.c_str());
      return EXIT_OTHER;
    }
    std::printf("COM%d -> %s (%s)\n", number, o.map[1].c_str(),
                (PortLinkDirectory() + "COM" + std::to_string(number)).c_str());
    return EXIT_OK;
  }
  if (!o.unmap.empty()) {
    int number = ComNameNumber(o.unmap);
    if (number < 1) return UsageError("--unmap takes COMn");
    UnmapPort(number);
    std::printf("COM%d unmapped: it stands for %s again\n", number,
                ResolvePortDevice("COM" + std::to_string(number)).c_str());
    return EXIT_OK;
  }
  nlohmann::json list = nlohmann::json::array();
  for (int number = 1; number <= kPortCount; ++number) {
    std::string name = "COM" + std::to_string(number);
    std::string device = ResolvePortDevice(name);
    bool exists = PortDeviceExists(device);
    bool mapped = IsPortMapped(number);
    if (o.json) {
      list.push_back({{"port", name}, {"device", device}, {"exists", exists}, {"mapped", mapped}});
    } else {
      std::printf("%-6s %-28s %-8s%s\n", name.c_str(), device.c_str(),
                  exists ? "exists" : "missing", mapped ? "  (mapped)" : "");
    }
  }
  if (o.json) std::printf("%s\n", JsonText(list, 2).c_str());
  return EXIT_OK;
}

// The probes to serve: the ports named, else the port the window saved last (the caller scans
// when there is neither). false with error set for a name that is no port or a device named
// twice.
bool ResolveTargets(std::vector<std::string> names, const StoredSettings& stored,
                    std::vector<ProbeTarget>& targets, std::string& error) {
  if (names.empty()) {
    int index = stored.portIndex.value_or(0);
    if (index < 0 || index >= kPortCount) {
      error = "no port given and the saved port is none of COM1 to COM19: use --port";
      return false;
    }
    names.push_back("COM" + std::to_string(index + 1));
  }
  std::set<std::string> devices;
  for (const std::string& name : names) {
    ProbeTarget target;
    int number = ComNameNumber(name);
    if (number >= 1) {
      target.label = "COM" + std::to_string(number);
      target.device = ResolvePortDevice(target.label);
      target.portIndex = number - 1;
    } else if (!name.empty() && (name[0] == '/' || name[0] == '.')) {
      target.label = name;
      target.device = name;
    } else {
      error = "'" + name + "' is no port: give COMn or a device path";
      return false;
    }
    if (!devices.insert(target.device).second) {
      error = "the device " + target.device + " is named twice";
      return false;
    }
    targets.push_back(target);
  }
  return true;
}

// Scans for probes; prints the list (JSON or a table) on standard output.
int RunScan(const ScanSettings& scan, Console& console, bool quiet, bool json) {
  const std::vector<SerialDevice> devices = FindSerialDevices();
  if (!quiet) {
    std::fprintf(stderr, "Scanning %zu serial device%s ...\n", devices.size(),
                 devices.size() == 1 ? "" : "s");
  }
  const std::vector<ScanRow> rows = ScanDevices(devices, scan, console);
  if (json) {
    std::printf("%s\n", JsonText(ScanJson(rows), 2).c_str());
  } else {
    std::fputs(FormatScan(rows).c_str(), stdout);
  }
  std::fflush(stdout);
  return EXIT_OK;  // the scan ran: what it found is in the list, not in the status
}

// A command without --port (and no port saved by the window) serves the one probe a scan finds.
// With none or several it stops, listing what the scan found: a command must not pick a probe
// for the user.
bool FindOnlyProbe(const ScanSettings& scan, Console& console, bool quiet, bool json,
                   ProbeTarget& target) {
  const std::vector<SerialDevice> devices = FindSerialDevices();
  if (!quiet) {
    std::fprintf(stderr, "No --port given: scanning %zu serial device%s for the probe ...\n",
                 devices.size(), devices.size() == 1 ? "" : "s");
  }
  const std::vector<ScanRow> rows = ScanDevices(devices, scan, console);
  std::vector<const ScanRow*> probes;
  for (const ScanRow& row : rows) {
    if (row.finding == ScanFinding::Probe) probes.push_back(&row);
  }
  if (probes.size() == 1) {
    const ScanRow& row = *probes[0];
    target.label = ScanLabel(row);
    target.device = row.port.device;
    const int number = ComNumber(target.label);
    target.portIndex = number >= 1 ? number - 1 : -1;
    const std::string where =
        target.label == target.device ? target.label : target.label + " (" + target.device + ")";
    std::fprintf(stderr, "vantalink-cli: no --port given; using %s, the one probe found\n",
                 where.c_str());
    return true;
  }
  const std::string error = probes.empty() ? "no --port given and the scan found no probe"
                                           : "no --port given and the scan found " +
                                                 std::to_string(probes.size()) +
                                                 " probes; name one with --port";
  std::fprintf(stderr, "vantalink-cli: %s\n%s", error.c_str(), FormatScan(rows).c_str());
  if (json) {
    const nlohmann::json j = {{"result", "failed"},
                              {"exitStatus", static_cast<int>(EXIT_USAGE)},
                              {"error", error},
                              {"scan", ScanJson(rows)}};
    std::printf("%s\n", JsonText(j, 2).c_str());
  }
  return false;
}

// Prints what the probes' runs found: JSON, or the command's own text and the result table.
void PrintResults(Command command, const JobSettings& settings,
                  const std::vector<ProbeResult>& results, bool json) {
  bool single = results.size() == 1;
  if (json) {
    nlohmann::json out;
    bool oneObject = single && (command == Command::Info || command == Command::LinkCheck ||
                                command == Command::ReadMemory || command == Command::Backup ||
                                command == Command::Restore || command == Command::SetupShow);
    if (oneObject) {
      out = ResultJson(command, results[0]);
    } else {
      out = nlohmann::json::array();
      for (const ProbeResult& result : results) out.push_back(ResultJson(command, result));
    }
    std::printf("%s\n", JsonText(out, 2).c_str());
  } else {
    std::string text;
    for (const ProbeResult& result : results) {
      std::string header = single ? "" : "== " + result.label + " ==\n";
      switch (command) {
        case Command::Info:
          if (result.connected) text += header + FormatInfo(result) + (single ? "" : "\n");
          break;
        case Command::ReadMemory:
          if (!result.memory.empty()) {
            text += header + FormatHexDump(settings.address, result.memory);
          }
          break;
        case Command::LinkCheck:
          text += FormatLinkCheck(result);
          break;
        case Command::Transmit:
          text += FormatTransmitSummary(result);
          break;
        case Command::Backup:
        case Command::Restore:
          text += FormatFlashFileSummary(command, result);
          break;
        case Command::SetupShow:
          if (result.details.contains("setupBlock")) {
            text += header + FormatStoredSetup(result) + (single ? "" : "\n");
          }
          break;
        default:
          break;
      }
    }
    bool table = command == Command::Update || command == Command::Erase ||
                 command == Command::Transmit || command == Command::Restore || !single;
    if (table) text += FormatTable(results);
    std::fputs(text.c_str(), stdout);
  }
  std::fflush(stdout);
}

}  // namespace

int RunCli(int argc, char** argv) {
  CLI::App app{"vantalink-cli", "vantalink-cli"};
  Options o;
  Commands c = BuildApp(app, o);
  // Hidden modes: the build writes the man pages, and bash completion asks for the commands and
  // options, from this very parser.
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--help-man") {
    const std::string page = argc > 2 ? argv[2] : "vantalink-cli";
    if (page != "vantalink-cli" && page != "vantalink") {
      return UsageError("--help-man writes the page vantalink-cli or vantalink");
    }
    std::fputs((page == "vantalink" ? WindowManual() : CommandLineManual(app)).c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_OK : EXIT_OTHER;
  }
  if (mode == "--complete") {
    std::fputs(CompletionTable(app).c_str(), stdout);
    return EXIT_OK;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return EXIT_OK;
  } catch (const CLI::CallForAllHelp&) {
    std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
    return EXIT_OK;
  } catch (const CLI::ParseError& error) {
    return UsageError(error.what());
  }

  if (c.ports->parsed()) return RunPorts(o);

  JobSettings settings;
  Command command = Command::Info;
  if (c.linkCheck->parsed()) command = Command::LinkCheck;
  if (c.readMemory->parsed()) command = Command::ReadMemory;
  if (c.update->parsed()) command = Command::Update;
  if (c.erase->parsed()) command = Command::Erase;
  if (c.transmit->parsed()) command = Command::Transmit;
  if (c.backup->parsed()) command = Command::Backup;
  if (c.restore->parsed()) command = Command::Restore;
  if (c.setup->parsed()) command = Command::SetupShow;
  settings.command = command;
  settings.trace = o.trace;
  settings.stayInLoader = o.stayInLoader;
  settings.firmwareOnly = o.firmwareOnly;
  settings.fast = o.fast;
  settings.verify = o.verify;
  settings.skipErased = !o.noSkipErased;
  settings.transactions = o.transactions;
  StoredSettings stored = ReadStoredSettings();

  std::vector<std::string> names = o.ports;
  for (const std::string& item : SplitList(o.portList)) names.push_back(item);
  const bool scanOnly = c.scan->parsed();
  if (scanOnly && !names.empty()) return UsageError("scan tries every serial device; no --port");
  // Neither a port named nor one saved: the probe is found by a scan once the options are checked.
  const bool findProbe = !o.watch && !scanOnly && names.empty() && !stored.portIndex;
  std::vector<ProbeTarget> targets;
  std::string error;
  if (o.watch) {
    if (!names.empty()) {
      return UsageError(
          "--watch serves the devices that appear in its directory: leave out --port and "
          "--ports");
    }
    if (command != Command::Update && command != Command::Erase && command != Command::Transmit &&
        command != Command::Info) {
      return UsageError("--watch serves update, erase --yes, transmit and info");
    }
    if (command == Command::Erase && !o.yes) {
      return UsageError("--watch erases every probe plugged in without asking: add --yes");
    }
    if (!o.watchDir.empty() && !IsDirectory(o.watchDir)) {
      return UsageError("--watch-dir " + o.watchDir + " is no directory");
    }
  } else if (!o.watchDir.empty() || !o.log.empty()) {
    return UsageError("--watch-dir and --log go with --watch");
  } else if (!scanOnly && !findProbe && !ResolveTargets(names, stored, targets, error)) {
    return UsageError(error);
  }

  // Speed: the option, else the window's last choice.
  if (c.speed->count() > 0) {
    settings.speedIndex = -1;
    for (int i = 0; i < kSpeedCount; ++i) {
      if (kSpeedTable[i] == o.speed) settings.speedIndex = i;
    }
    if (settings.speedIndex < 0) {
      // A rate above the list is asked of the probe as it is; the port must be able to take it.
      if (o.speed <= kSpeedTable[4] || o.speed > 4000000) {
        return UsageError(
            "--speed takes 9600, 19200, 38400, 57600, 115200 or a rate above that up to 4000000");
      }
      settings.speed = o.speed;
      settings.speedIndex = 4;
    }
  } else {
    settings.speedIndex = stored.speedIndex.value_or(0);
  }
  ScanSettings scan;
  scan.speed = settings.speed != 0 ? settings.speed : SpeedFromIndex(settings.speedIndex);
  scan.stayInLoader = o.stayInLoader;
  scan.trace = o.trace;

  if (!o.imageDir.empty()) {
    if (!IsDirectory(o.imageDir)) {
      return UsageError("--image-dir " + o.imageDir + " is no directory");
    }
    settings.imageDirs = {DirectoryPrefix(o.imageDir)};
  } else {
    settings.imageDirs = DefaultImageDirectories();
  }

  if (command == Command::ReadMemory) {
    uint64_t address = 0, count = 0;
    if (!ParseNumber(o.address, address) || address > 0xFFFFFFFFull) {
      return UsageError("ADDR must be a number from 0 to 0xFFFFFFFF");
    }
    if (!ParseNumber(o.count, count) || count < 1 || count > kMaxReadCount) {
      return UsageError("COUNT must be a number from 1 to 1048576");
    }
    if (address + count > 0x100000000ull) return UsageError("ADDR + COUNT passes 0xFFFFFFFF");
    settings.address = static_cast<uint32_t>(address);
    settings.count = static_cast<uint32_t>(count);
  }

  if (command == Command::Backup || command == Command::Restore) {
    if (targets.size() > 1) return UsageError("backup and restore serve one probe at a time");
    settings.file = o.file;
  }
  if (command == Command::SetupShow && !o.extract.empty()) {
    if (targets.size() > 1) return UsageError("--extract serves one probe at a time");
    if (!IsDirectory(o.extract)) {
      return UsageError("--extract " + o.extract + " is no directory");
    }
    settings.extractDir = o.extract;
  }
  if (command == Command::Backup && !o.range.empty()) {
    const size_t colon = o.range.find(':');
    uint64_t address = 0, length = 0;
    if (colon == std::string::npos || !ParseNumber(o.range.substr(0, colon), address) ||
        !ParseNumber(o.range.substr(colon + 1), length) || address > 0xFFFFFFFFull ||
        length > 0xFFFFFFFFull) {
      return UsageError("--range takes ADDR:LEN, e.g. 0x01008000:104");
    }
    settings.range = {static_cast<uint32_t>(address), static_cast<uint32_t>(length)};
    if (!RangeInsideFlash(settings.range)) {
      return UsageError("--range must lie inside the flash, 0x01000000 to 0x010FFFFF");
    }
  }
  if (command == Command::Restore) {
    // The whole file is checked before any probe is touched: a bad file erases nothing.
    auto contents = std::make_shared<FlashContents>();
    BackupFileProblem problem;
    if (!ReadBackupFile(o.file, *contents, problem)) {
      std::string where =
          problem.line > 0 ? o.file + " line " + std::to_string(problem.line) + ": " : "";
      std::fprintf(stderr, "vantalink-cli: restore refused, nothing erased: %s%s\n", where.c_str(),
                   problem.what.c_str());
      if (o.json) {
        nlohmann::json j = {{"result", "failed"},
                            {"exitStatus", static_cast<int>(EXIT_IMAGE)},
                            {"error", where + problem.what}};
        if (problem.line > 0) j["line"] = problem.line;
        std::printf("%s\n", JsonText(j, 2).c_str());
      }
      return EXIT_IMAGE;
    }
    settings.restore = std::move(contents);
  }

  // The setup texts start as the window's defaults; transmit takes each from its option, else
  // from what the window saved.
  if (command == Command::Transmit) {
    settings.setup = stored.setup;
    auto pick = [](CLI::Option* option, const std::string& given, std::string& field) {
      if (option->count() > 0) field = given;
    };
    pick(c.ip, o.ip, settings.setup.probeIpText);
    pick(c.mask, o.mask, settings.setup.subnetMaskText);
    pick(c.gateway, o.gateway, settings.setup.gatewayText);
    pick(c.host, o.host, settings.setup.configHostText);
    pick(c.config, o.config, settings.setup.configFileText);
  }

  Verbosity verbosity = o.quiet         ? Verbosity::Quiet
                        : o.verbose > 0 ? Verbosity::Verbose
                                        : Verbosity::Normal;
  bool live = TakesTerminalSequences(StandardStream::Error);
  bool interactive = IsTerminal(StandardStream::Input);
  Console console(live, verbosity, o.json ? stderr : stdout);
  if (scanOnly) return RunScan(scan, console, o.quiet, o.json);

  settings.yesNo = interactive ? YesNoPolicy::Ask : YesNoPolicy::AnswerNo;
  if (command == Command::Erase && !o.yes && !interactive) {
    std::fprintf(stderr,
                 "vantalink-cli: erase refused: standard input is no terminal to confirm "
                 "on; add --yes to erase without asking\n");
    return EXIT_DECLINED;
  }
  if (findProbe) {
    ProbeTarget target;
    if (!FindOnlyProbe(scan, console, o.quiet, o.json, target)) return EXIT_USAGE;
    targets.push_back(target);
  }
  if (command == Command::Erase) {
    if (o.yes) {
      settings.yesNo = YesNoPolicy::AnswerYes;
    } else {
      // One question for the whole tray, before any probe is touched.
      std::string question = "Erase Flash and EPLD?";
      if (targets.size() > 1) {
        question += " (" + std::to_string(targets.size()) + " probes:";
        for (const ProbeTarget& target : targets) question += " " + target.label;
        question += ")";
      }
      if (!console.AskYesNo(question)) {
        std::fprintf(stderr, "vantalink-cli: erase not confirmed; nothing erased\n");
        return EXIT_DECLINED;
      }
      settings.yesNo = YesNoPolicy::AnswerYes;
    }
  }

  if (o.watch) {
    WatchOptions watch;
    watch.directory = o.watchDir.empty() ? "/dev/serial/by-id" : o.watchDir;
    watch.logPath = o.log;
    watch.json = o.json;
    const ExitStatus status = RunWatch(settings, watch, console);
    console.Close();
    return status;
  }

  std::vector<int> slots;
  for (const ProbeTarget& target : targets) slots.push_back(console.AddSlot(target.label));
  std::vector<ProbeResult> results(targets.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < targets.size(); ++i) {
    threads.emplace_back(
        [&, i] { results[i] = RunProbeJob(settings, targets[i], console, slots[i]); });
  }
  for (std::thread& thread : threads) thread.join();
  console.Close();

  PrintResults(command, settings, results, o.json);

  for (const ProbeResult& result : results) {
    if (result.status != EXIT_OK) return result.status;
  }
  return EXIT_OK;
}

}  // namespace vanta::cli
