#include "cli/help_text.h"

#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/command.h"
#include "cli/exit_status.h"

namespace vanta::cli {
namespace {

const HelpPage kWindow = {
    "vantalink", "update and set up Vanta7 PPC4xx probes in a window", "vantalink",
    "vantalink opens the Vanta7 Update/Setup window. Choose the probe's Port and Speed and press "
    "Connect: the window finds the probe's boot loader (up to ten attempts), moves the line to "
    "the chosen speed and shows the probe's serial number (SN) and MAC address, its loader, "
    "firmware and logic versions, and beside them the newest firmware and logic images found. "
    "Current reads the versions again. Update is offered when an image's version differs from "
    "the probe's: it writes the newest firmware image, then loads the newest logic image and "
    "verifies it. Erase asks \"Erase Flash and EPLD?\" and then erases the logic device and all "
    "six flash sectors, the network setup and the firmware included; the probe keeps only its "
    "loader. "
    "Transmit writes the network setup: the probe's IP address, subnet mask, default gateway, "
    "the configuration host's IP address and the configuration file name; with the host "
    "255.255.255.255 the configuration file and the register files it names are stored in the "
    "probe.\n\n"
    "The Port list names COM1 to COM19. COMn is the link COMn in ~/.config/Norvane/ports/ when "
    "there is one, else /dev/ttyS<n-1>; a list entry's tooltip shows the device. To use a USB "
    "serial adapter, point a COM name at it once: 'vantalink-cli ports --map COM5 "
    "/dev/ttyUSB0'.\n\n"
    "Firmware images are named VT7PP4FW.nnn and logic images PP4JEDK0.nnn or PP4JEDK1.nnn, nnn "
    "being the version. They are looked up beside the program, in the user's and in the "
    "system's image directory (see FILES); the newest version across them is shown and "
    "written.\n\n"
    "Ok starts the probe's firmware, closes the port and saves the port, speed and setup "
    "entries for the next start; Cancel does the same without saving. The About box is on the "
    "window's context menu (right click) and on F1. The window takes no options of its own "
    "(the Qt toolkit's, such as -platform, apply). vantalink-cli runs the same flows on a "
    "terminal, for one probe or a tray of them.",
    ""};

std::string Indent(const std::string& text, size_t indent) {
  std::string out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) out += std::string(indent, ' ') + line + "\n";
  return out;
}

std::string OptionsText(const CLI::App* app, bool skipHelp) {
  std::string text;
  for (const OptionHelp& option : ListOptions(app, skipHelp)) {
    text += "    " + option.names + (option.value.empty() ? "" : " " + option.value) + "\n";
    text += WrapText(option.description, 12);
  }
  return text;
}

const HostHelp& host = ThisHostHelp();

const std::string kProgramText =
    std::string(
        "vantalink-cli runs the flows of the vantaLink window on a terminal. For every probe it "
        "connects to the boot loader as the Connect button does (up to ten attempts), runs the "
        "command, and then leaves the probe as closing the window does: the probe's firmware is "
        "started and the port closed (--stay-in-loader keeps the loader running).\n\n"
        "Several --port options, or --ports with a list, serve several probes at once: each "
        "probe gets its own link, its own thread and its own progress line, a failing probe "
        "never stops the others, and a table at the end shows port, serial number, versions "
        "before and after, result and time of every probe.\n\n"
        "--watch serves a production bench: the command (update, erase --yes, transmit or info) "
        "runs once on every ") +
    host.watchPlaces +
    ", each on its own thread so that several probes are served at once. One line a probe "
    "gives the time, port, serial number, versions before and after, seconds and result, and "
    "the tally of passed and failed probes. Devices present when the watch starts are not "
    "served; a device is served again after it was unplugged and plugged back in. A device that "
    "refuses to open (" +
    host.notReadyYet +
    ") is tried again, up to five times a second apart, before it counts as failed. --log FILE "
    "appends each probe's --json object, with the time it ended, as one line written at once; "
    "--json prints the same lines on standard output. " +
    host.stopKeys +
    " stops the watch: the probes being served are finished first, then a summary is printed. "
    "A second Ctrl-C ends at once and abandons the probes still being served, naming each and "
    "the step it was in: a probe abandoned in the middle of a write is left half written, and "
    "must be plugged in again. --watch does not go with --port or --ports.\n\n" +
    host.portNames +
    " Without --port and --speed the port and speed the window saved last are used (" +
    host.savedSettings +
    "), else 9600 bit/s and the port a scan finds (see scan): when it finds exactly one probe "
    "the command serves it and says on standard error which port it chose; with none or "
    "several it stops with the scan's list and exit status 2.\n\n"
    "On a terminal the progress of each probe is a bar on its own line; otherwise the status "
    "texts are printed as lines. Results go to standard output, progress, messages and traces "
    "to standard error. Run 'vantalink-cli COMMAND --help' for the page of a command.";

const std::string kProgramExamples =
    std::string(
        "vantalink-cli info --port COM1\n"
        "vantalink-cli scan\n"
        "vantalink-cli info --port ") +
    host.deviceExample +
    " --speed 115200 --json\n"
    "vantalink-cli update --ports COM1,COM2,COM3,COM4 --speed 115200\n" +
    host.portsExample +
    "\n"
    "vantalink-cli link-check --port COM5 --trace\n"
    "# a bench: every probe plugged in from now on, until Ctrl-C\n"
    "vantalink-cli update --watch --speed 115200 --log bench.jsonl";

const HelpPage kProgram = {"vantalink-cli",
                           "update and set up Vanta7 PPC4xx probes from the command line",
                           "vantalink-cli [GLOBAL OPTIONS] COMMAND [OPTIONS]", kProgramText.c_str(),
                           kProgramExamples.c_str()};

}  // namespace

const HelpPage& ProgramHelpPage() {
  return kProgram;
}

const HelpPage& FindHelpPage(const std::string& command) {
  const CommandRow* row = FindCommand(command);
  if (row != nullptr) return *row->help;
  return ProgramHelpPage();
}

const HelpPage& WindowHelpPage() {
  return kWindow;
}

const char* ExitStatusNote() {
  return "With several probes the status is that of the first probe that failed, in the order "
         "the ports were given. Without --port (and no port saved by the window) the status is 2 "
         "when the scan finds no probe or several. With --watch it is 0 when every probe served "
         "passed (or none was served), else that of the worst failure, worst first: 6, 4, 1, 2, "
         "7, 5, 3.";
}

std::vector<OptionHelp> ListOptions(const CLI::App* app, bool skipHelp) {
  std::vector<OptionHelp> list;
  for (const CLI::Option* option : app->get_options()) {
    if (skipHelp && option == app->get_help_ptr()) continue;
    OptionHelp help;
    help.value = option->get_option_text();
    if (option->get_lnames().empty() && option->get_snames().empty()) {
      help.names = option->get_name(true);  // a positional argument: its name says it all
    } else {
      help.names = option->get_name(false, true);
      if (help.value.empty() && option->get_type_size() > 0) help.value = option->get_type_name();
    }
    help.description = option->get_description();
    list.push_back(help);
  }
  return list;
}

std::string WrapText(const std::string& text, size_t indent, size_t width) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\n\n", start);
    std::string paragraph = text.substr(start, end == std::string::npos ? end : end - start);
    std::istringstream words(paragraph);
    std::string word, line;
    while (words >> word) {
      if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
        out += std::string(indent, ' ') + line + "\n";
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
    if (end == std::string::npos) break;
    out += "\n";
    start = end + 2;
  }
  return out;
}

std::string ManFormatter::make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const {
  bool isCommand = app->get_parent() != nullptr;
  const HelpPage& page = FindHelpPage(isCommand ? app->get_name() : "");
  std::string text;
  text += "NAME\n    " + std::string(isCommand ? "vantalink-cli " : "") + page.name + " - " +
          page.summary + "\n\n";
  text += "SYNOPSIS\n    " + std::string(page.synopsis) + "\n\n";
  text += "DESCRIPTION\n" + WrapText(page.description, 4) + "\n";
  if (!isCommand) {
    text += "COMMANDS\n";
    for (const CommandRow& row : CommandTable()) {
      const HelpPage& command = *row.help;
      std::string name = command.name;
      text += "    " + name + std::string(name.size() < 14 ? 14 - name.size() : 1, ' ') +
              command.summary + "\n";
    }
    text += "\n";
  }
  std::string own = OptionsText(app, false);
  if (!own.empty()) text += std::string(isCommand ? "OPTIONS\n" : "GLOBAL OPTIONS\n") + own + "\n";
  if (isCommand) {
    text += "GLOBAL OPTIONS\n" + OptionsText(app->get_parent(), true) + "\n";
  }
  if (!isCommand) {
    text += "FILES\n";
    for (const HelpFile& file : HelpFiles())
      text += "    " + std::string(file.path) + "\n" + WrapText(file.about, 12);
    text += "\n";
  }
  text += "EXIT STATUS\n";
  for (int status = EXIT_OK; status <= EXIT_DECLINED; ++status) {
    text += "    " + std::to_string(status) + "   " +
            ExitStatusName(static_cast<ExitStatus>(status)) + "\n";
  }
  text += WrapText(ExitStatusNote(), 4);
  text += "\nEXAMPLES\n" + Indent(page.examples, 4);
  return text;
}

}  // namespace vanta::cli
