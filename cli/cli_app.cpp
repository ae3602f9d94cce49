#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <thread>

#include "cli/commands/command.h"
#include "cli/completion.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/failure.h"
#include "cli/help_text.h"
#include "cli/manual.h"
#include "cli/output.h"
#include "cli/probe_scan.h"
#include "cli/settings_file.h"
#include "cli/watch.h"
#include "platform/files.h"
#include "platform/ports.h"
#include "platform/serial_devices.h"
#include "platform/terminal.h"

namespace vanta::cli {
namespace {

// The options every command takes, before they are checked.
struct GlobalOptions {
  std::vector<std::string> ports;
  std::string portList;
  CLI::Option* speedOption = nullptr;
  uint32_t speed = 0;  // 0: the saved speed
  std::string imageDir;
  bool json = false, trace = false, stayInLoader = false;
  int verbose = 0;
  bool quiet = false;
  bool watch = false;
  std::string watchDir, log;
};

// The global options that take a value, as they may stand before the command's name.
const std::set<std::string> kValueOptions = {"-p",      "--port",      "--ports",     "-s",
                                             "--speed", "--image-dir", "--watch-dir", "--log"};

void AddGlobalOptions(CLI::App& app, GlobalOptions& o) {
  app.formatter(std::make_shared<ManFormatter>());
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command
  app.add_option("-p,--port", o.ports,
                 "a probe's port: COMn or a device path; repeat it for several probes")
      ->allow_extra_args(false)  // one port an occurrence, so "--port COM1 ADDR COUNT" parses
      ->option_text("COMn|DEVICE");
  app.add_option("--ports", o.portList, "several ports at once, separated by commas")
      ->option_text("COM1,COM2,...");
  o.speedOption =
      app.add_option("-s,--speed", o.speed,
                     "line speed in bit/s: 9600, 19200, 38400, 57600, 115200 or any other rate "
                     "the port and probe take, such as 460800 or 921600 (default: the window's "
                     "last choice, else 9600)")
          ->option_text("BITS")
          ->check(CLI::Validator(
              [](std::string& text) -> std::string {
                uint64_t speed = 0;
                if (ParseNumber(text, speed)) {
                  for (int i = 0; i < kSpeedCount; ++i) {
                    if (kSpeedTable[i] == speed) return "";
                  }
                  // A rate above the list is asked of the probe as it is; the port must take it.
                  if (speed > kSpeedTable[4] && speed <= 4000000) return "";
                }
                return "takes 9600, 19200, 38400, 57600, 115200 or a rate above that up to "
                       "4000000";
              },
              "", ""));
  app.add_option("--image-dir", o.imageDir,
                 "where the image files lie (default: beside the program, "
                 "~/.local/share/Norvane/vantaLink/images and /usr/share/vantalink/images)")
      ->option_text("DIR")
      ->check(CLI::Validator(
          [](std::string& dir) { return IsDirectory(dir) ? "" : dir + " is no directory"; }, "",
          ""));
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
  app.add_option(
         "--watch-dir", o.watchDir,
         "where --watch looks for devices (default: " + DevicePlaceText(DefaultDevicePlace()) + ")")
      ->option_text("DIR")
      ->check(CLI::Validator(
          [](std::string& dir) { return IsDirectory(dir) ? "" : dir + " is no directory"; }, "",
          ""));
  app.add_option("--log", o.log, "with --watch: append one JSON object a probe to FILE")
      ->option_text("FILE");
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

// A parse error for a word that names no command says so, and lists the commands.
std::string ParseErrorText(const CLI::App& app, const CLI::ParseError& error, int argc,
                           char** argv) {
  if (!app.get_subcommands().empty()) return error.what();
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-') {
      if (kValueOptions.count(word) > 0) ++i;  // its value is no command
      continue;
    }
    std::string names;
    for (const CommandRow& row : CommandTable()) names += std::string(", ") + row.name;
    return "unknown command '" + word + "'; the commands are: " + names.substr(2);
  }
  return error.what();
}

// The probes to serve: the ports named, else the port the window saved last (the caller scans
// when there is neither). A name that is no port or a device named twice is refused.
Failure ResolveTargets(std::vector<std::string> names, const StoredSettings& stored,
                       std::vector<ProbeTarget>& targets) {
  if (names.empty()) {
    const int index = stored.portIndex.value_or(0);
    if (index < 0 || index >= kPortCount) {
      return UsageFailure("no port given and the saved port is none of COM1 to COM19: use --port");
    }
    names.push_back("COM" + std::to_string(index + 1));
  }
  std::set<std::string> devices;
  for (const std::string& name : names) {
    ProbeTarget target;
    const int number = ComNameNumber(name);
    if (number >= 1) {
      target.label = "COM" + std::to_string(number);
      target.device = ResolvePortDevice(target.label);
      target.portIndex = number - 1;
    } else if (!name.empty() && (name[0] == '/' || name[0] == '.')) {
      target.label = name;
      target.device = name;
    } else {
      return UsageFailure("'" + name + "' is no port: give COMn or a device path");
    }
    if (!devices.insert(target.device).second) {
      return UsageFailure("the device " + target.device + " is named twice");
    }
    targets.push_back(target);
  }
  return Failure::None();
}

// A command without --port (and no port saved by the window) serves the one probe a scan finds.
// With none or several it stops, listing what the scan found: a command must not pick a probe
// for the user.
Failure FindOnlyProbe(const JobSettings& settings, Console& console, bool quiet,
                      std::vector<ProbeTarget>& targets) {
  const std::vector<SerialDevice> devices = FindSerialDevices();
  if (!quiet) {
    std::fprintf(stderr, "No --port given: scanning %zu serial device%s for the probe ...\n",
                 devices.size(), devices.size() == 1 ? "" : "s");
  }
  const std::vector<ScanRow> rows = ScanDevices(devices, ScanSettingsOf(settings), console);
  std::vector<const ScanRow*> probes;
  for (const ScanRow& row : rows) {
    if (row.finding == ScanFinding::Probe) probes.push_back(&row);
  }
  if (probes.size() == 1) {
    ProbeTarget target;
    target.label = ScanLabel(*probes[0]);
    target.device = probes[0]->port.device;
    const int number = ComNumber(target.label);
    target.portIndex = number >= 1 ? number - 1 : -1;
    ProgramMessage(
        "no --port given; using " +
        (target.label == target.device ? target.label : target.label + " (" + target.device + ")") +
        ", the one probe found");
    targets.push_back(target);
    return Failure::None();
  }
  Failure failure;
  failure.outcome = FlowOutcome::Failed(FlowStage::ProbeSearch);
  failure.message = probes.empty()
                        ? "no --port given and the scan found no probe"
                        : "no --port given and the scan found " + std::to_string(probes.size()) +
                              " probes; name one with --port";
  failure.after = FormatScan(rows);
  failure.extra["scan"] = ScanJson(rows);
  return failure;
}

// Speed, image directories and the rest every probe shares, from the options and the saved
// settings.
JobSettings SharedSettings(const GlobalOptions& o, const StoredSettings& stored) {
  JobSettings settings;
  settings.trace = o.trace;
  settings.stayInLoader = o.stayInLoader;
  settings.speedIndex = stored.speedIndex.value_or(0);
  if (o.speedOption->count() > 0) {
    settings.speedIndex = -1;
    for (int i = 0; i < kSpeedCount; ++i) {
      if (kSpeedTable[i] == o.speed) settings.speedIndex = i;
    }
    if (settings.speedIndex < 0) {
      settings.speed = o.speed;  // above the list, asked of the probe as it is
      settings.speedIndex = 4;
    }
  }
  settings.imageDirs = o.imageDir.empty() ? DefaultImageDirectories()
                                          : ImageDirectories{DirectoryPrefix(o.imageDir)};
  return settings;
}

// Where the watch and a command's traits part ways, before anything else is checked.
Failure CheckWatch(const GlobalOptions& o, const CommandRow& row, size_t named) {
  if (!o.watch) {
    if (!o.watchDir.empty() || !o.log.empty()) {
      return UsageFailure("--watch-dir and --log go with --watch");
    }
    return Failure::None();
  }
  if (named > 0) {
    return UsageFailure(
        "--watch serves the devices that appear in its directory: leave out --port and --ports");
  }
  if (!row.traits.watchable)
    return UsageFailure("--watch serves update, erase --yes, transmit and info");
  return Failure::None();
}

// Prints what the probes' runs found: JSON, or the command's own text and the result table.
void PrintResults(const CommandRow& row, const CliCommand& command,
                  const std::vector<ProbeResult>& results, bool json) {
  const bool single = results.size() == 1;
  if (json) {
    nlohmann::json out = nlohmann::json::array();
    for (const ProbeResult& result : results) out.push_back(ResultJson(command, result));
    if (single && row.traits.oneObject) out = out[0];
    std::printf("%s\n", JsonText(out, 2).c_str());
  } else {
    std::string text;
    for (const ProbeResult& result : results) text += command.Text(result, single);
    if (row.traits.table || !single) text += FormatTable(results);
    std::fputs(text.c_str(), stdout);
  }
  std::fflush(stdout);
}

// The hidden modes: the build writes the man pages, and bash completion asks for the commands and
// options, from this very parser. -1 when argv asks for neither.
int RunHiddenMode(const CLI::App& app, int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--help-man") {
    const std::string page = argc > 2 ? argv[2] : "vantalink-cli";
    if (page != "vantalink-cli" && page != "vantalink") {
      return Report(UsageFailure("--help-man writes the page vantalink-cli or vantalink"), false);
    }
    std::fputs((page == "vantalink" ? WindowManual() : CommandLineManual(app)).c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_OK : EXIT_OTHER;
  }
  if (mode == "--complete") {
    std::fputs(CompletionTable(app).c_str(), stdout);
    return EXIT_OK;
  }
  return -1;
}

bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--json") return true;
  }
  return false;
}

}  // namespace

int RunCli(int argc, char** argv) {
  CLI::App app{"vantalink-cli", "vantalink-cli"};
  GlobalOptions o;
  AddGlobalOptions(app, o);
  std::vector<std::unique_ptr<CliCommand>> commands;
  std::vector<CLI::App*> subcommands;
  for (const CommandRow& row : CommandTable()) {
    commands.push_back(row.make());
    subcommands.push_back(app.add_subcommand(row.name, row.help->summary));
    commands.back()->AddOptions(*subcommands.back());
  }
  if (const int status = RunHiddenMode(app, argc, argv); status >= 0) return status;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return EXIT_OK;
  } catch (const CLI::CallForAllHelp&) {
    std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
    return EXIT_OK;
  } catch (const CLI::ParseError& error) {
    return Report(UsageFailure(ParseErrorText(app, error, argc, argv)), AsksForJson(argc, argv));
  }
  size_t chosen = 0;
  while (!subcommands[chosen]->parsed()) ++chosen;
  const CommandRow& row = CommandTable()[chosen];
  CliCommand& command = *commands[chosen];

  const StoredSettings stored = ReadStoredSettings();
  JobSettings settings = SharedSettings(o, stored);
  std::vector<std::string> names = o.ports;
  for (const std::string& item : SplitList(o.portList)) names.push_back(item);
  const bool interactive = IsTerminal(StandardStream::Input);
  const CheckContext context{settings, stored, names.size(), o.json, interactive, o.watch};
  std::vector<ProbeTarget> targets;
  // Neither a port named nor one saved: the probe is found by a scan once the options are checked.
  const bool findProbe = !o.watch && row.traits.perProbe && names.empty() && !stored.portIndex;
  Failure failure = CheckWatch(o, row, names.size());
  if (!failure && row.traits.perProbe && !o.watch && !findProbe) {
    failure = ResolveTargets(names, stored, targets);
  }
  if (!failure) failure = command.Check(context);
  if (failure) return Report(failure, o.json);

  const Verbosity verbosity = o.quiet         ? Verbosity::Quiet
                              : o.verbose > 0 ? Verbosity::Verbose
                                              : Verbosity::Normal;
  const bool live = TakesTerminalSequences(StandardStream::Error);
  Console console(live, verbosity, o.json ? stderr : stdout);
  if (!row.traits.perProbe) return command.RunAlone(settings, console, o.quiet, o.json);

  settings.yesNo = interactive ? YesNoPolicy::Ask : YesNoPolicy::AnswerNo;
  if (findProbe) failure = FindOnlyProbe(settings, console, o.quiet, targets);
  if (!failure) failure = command.Confirm(console, targets, settings);
  if (failure) return Report(failure, o.json);

  if (o.watch) {
    const WatchOptions watch{o.watchDir.empty() ? DefaultDevicePlace() : o.watchDir, o.log, o.json};
    const ExitStatus status = RunWatch(command, settings, watch, console);
    console.Close();
    return status;
  }
  std::vector<int> slots;
  for (const ProbeTarget& target : targets) slots.push_back(console.AddSlot(target.label));
  std::vector<ProbeResult> results(targets.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < targets.size(); ++i) {
    threads.emplace_back(
        [&, i] { results[i] = RunProbeJob(command, settings, targets[i], console, slots[i]); });
  }
  for (std::thread& thread : threads) thread.join();
  console.Close();
  PrintResults(row, command, results, o.json);
  for (const ProbeResult& result : results) {
    if (result.status != EXIT_OK) return result.status;
  }
  return EXIT_OK;
}

}  // namespace vanta::cli
