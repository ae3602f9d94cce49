#include "cli/help_text.h"

#include <sstream>
#include <vector>

#include "cli/exit_status.h"

namespace vanta::cli {
namespace {

const HelpPage kProgram = {
    "vantalink-cli", "update and set up Vanta7 PPC4xx probes from the command line",
    "vantalink-cli [GLOBAL OPTIONS] COMMAND [OPTIONS]",
    "vantalink-cli runs the flows of the vantaLink window on a terminal. For every probe it "
    "connects to the boot loader as the Connect button does (up to ten attempts), runs the "
    "command, and then leaves the probe as closing the window does: the probe's firmware is "
    "started and the port closed (--stay-in-loader keeps the loader running).\n\n"
    "Several --port options, or --ports with a list, serve several probes at once: each probe "
    "gets its own link, its own thread and its own progress line, a failing probe never stops "
    "the others, and a table at the end shows port, serial number, versions before and after, "
    "result and time of every probe.\n\n"
    "--watch serves a production bench: the command (update, erase --yes, transmit or info) "
    "runs once on every serial device that appears in /dev/serial/by-id, or in --watch-dir DIR, "
    "each on its own thread so that several probes are served at once. One line a probe gives "
    "the time, port, serial number, versions before and after, seconds and result, and the "
    "tally of passed and failed probes. Devices present when the watch starts are not served; "
    "a device is served again after it was unplugged and plugged back in. A device that "
    "refuses to open (udev not done with it yet, or busy) is tried again, up to five times a "
    "second apart, before it counts as failed. --log FILE appends each probe's --json object, "
    "with the time it ended, as one line written at once; --json prints the same lines on "
    "standard output. Ctrl-C or SIGTERM stops the watch: the probes being served are finished "
    "first, then a summary is printed. A second Ctrl-C ends at once and abandons the probes "
    "still being served, naming each and the step it was in: a probe abandoned in the middle "
    "of a write is left half written, and must be plugged in again. --watch does not go with "
    "--port or --ports.\n\n"
    "A port is a COM name or a device path. COMn stands for the link COMn in "
    "~/.config/Norvane/ports/ (made by 'vantalink-cli ports --map'), else for /dev/ttyS<n-1>, as "
    "in the window's Port list. Without --port and --speed the port and speed the window saved "
    "last are used (~/.config/Norvane/vantaLink.conf, or under $XDG_CONFIG_HOME), else 9600 "
    "bit/s and the port a scan finds (see scan): when it finds exactly one probe the command "
    "serves it and says on standard error which port it chose; with none or several it stops "
    "with the scan's list and exit status 2.\n\n"
    "On a terminal the progress of each probe is a bar on its own line; otherwise the status "
    "texts are printed as lines. Results go to standard output, progress, messages and traces "
    "to standard error. Run 'vantalink-cli COMMAND --help' for the page of a command.",
    "vantalink-cli info --port COM1\n"
    "vantalink-cli scan\n"
    "vantalink-cli info --port /dev/ttyUSB0 --speed 115200 --json\n"
    "vantalink-cli update --ports COM1,COM2,COM3,COM4 --speed 115200\n"
    "vantalink-cli ports --map COM5 /dev/ttyUSB0\n"
    "vantalink-cli link-check --port COM5 --trace\n"
    "# a bench: every probe plugged in from now on, until Ctrl-C\n"
    "vantalink-cli update --watch --speed 115200 --log bench.jsonl"};

const HelpPage kPages[] = {
    {"link-check", "connect and time a few transactions",
     "vantalink-cli link-check [--count N] [GLOBAL OPTIONS]",
     "Connects as the Connect button does (speed search, the change to the speed asked for, "
     "the loader entry, and another attempt while the probe answers from its running "
     "firmware), then sends the identify command --count times and reports the speed reached "
     "and the round-trip times (least, mean, most), and the DTR and RTS lines as the driver "
     "reports them (both off; \"not available\" on a pseudo-terminal). Together with --trace it "
     "shows why a probe does not answer.",
     "vantalink-cli link-check --port COM1 --speed 115200\n"
     "vantalink-cli link-check --port /dev/ttyUSB0 --count 50 --trace"},
    {"info", "show a probe's versions, serial number and MAC address",
     "vantalink-cli info [GLOBAL OPTIONS]",
     "Connects as the Connect button does and prints the loader, firmware and logic versions "
     "(N.NN, or \"unknown\"), the serial number and the MAC address, beside the newest firmware "
     "(VT7PP4FW.nnn) and logic (PP4JEDK0.nnn) images (see update for where they are looked for), "
     "and whether Update would be offered.\n\n"
     "--json prints one JSON object for one probe and an array of them for several.",
     "vantalink-cli info --port COM1\n"
     "vantalink-cli info --ports COM1,COM2 --json"},
    {"read-memory", "hex dump of probe memory",
     "vantalink-cli read-memory ADDR COUNT [GLOBAL OPTIONS]",
     "Connects and reads COUNT bytes (1 to 1048576) from ADDR in pieces of at most 1024 bytes, "
     "and prints them as a hex dump. On a noisy line the pieces shrink (down to 16 bytes) and a "
     "lost piece is asked for again, up to 8 times before the read fails naming its address. ADDR "
     "and COUNT are decimal or hexadecimal with 0x. --json "
     "gives the bytes as one hex string.",
     "# the setup block\n"
     "vantalink-cli read-memory 0x01008000 104 --port COM1\n"
     "vantalink-cli read-memory 0x01040000 0x100 --port COM1 --json"},
    {"update", "bring firmware and logic to the newest images",
     "vantalink-cli update [--firmware-only] [--fast] [--verify] "
     "[--no-skip-erased] [GLOBAL OPTIONS]",
     "Does what the Update button does: writes the newest firmware image when its version "
     "differs from the probe's (an older image is written as well), then loads the newest logic "
     "image when its version differs (PP4JEDK1 for a serial number of 10 characters ending in C, "
     "else PP4JEDK0), verifies the logic, and reads the versions again. Images are looked up "
     "beside the program, in ~/.local/share/Norvane/vantaLink/images ($XDG_DATA_HOME/Norvane/"
     "vantaLink/images) and in /usr/share/vantalink/images; the newest version across them "
     "counts. --image-dir DIR looks in DIR alone.\n\n"
     "--firmware-only programs just the newest VT7PP4FW image, whatever the probe reports. "
     "--fast merges records with contiguous addresses into writes of up to 1024 bytes, which "
     "shrink on a noisy line; a piece that fails is sent again, up to eight times, before the "
     "update fails naming its address. The flash holds the same bytes afterwards. Runs of 0xFF "
     "in the image are not sent, since the erase left them; --no-skip-erased writes them as well. "
     "--verify reads the firmware back after it is written and fails, naming the first differing "
     "address, when it differs; with --fast as well, a firmware sector that reads back different "
     "is erased and written again, once, before the update fails (rewrittenSectors in --json). "
     "With --fast or --verify a logic row read that fails its three "
     "attempts is read again, up to eight times. The window and the default command line write "
     "record by record without reading back.",
     "vantalink-cli update --port COM1 --speed 115200\n"
     "vantalink-cli update --firmware-only --fast --verify --image-dir ./images --port COM1\n"
     "# a tray of four probes at once, results as JSON\n"
     "vantalink-cli update --ports COM1,COM2,COM3,COM4 --speed 115200 --json\n"
     "# a bench: every probe plugged in from now on, until Ctrl-C\n"
     "vantalink-cli update --watch --speed 115200 --log bench.jsonl"},
    {"erase", "erase the probe's flash and logic", "vantalink-cli erase [--yes] [GLOBAL OPTIONS]",
     "Does what the Erase button does: erases the logic device and all six flash sectors, the "
     "network setup, the stand-alone configuration and the firmware included; the probe keeps "
     "only its loader.\n\n"
     "On a terminal it asks \"Erase Flash and EPLD?\" once for all probes. --yes skips the "
     "question. Without --yes and without a terminal on standard input it refuses and erases "
     "nothing (exit status 8).",
     "vantalink-cli erase --port COM1\n"
     "vantalink-cli erase --yes --ports COM1,COM2"},
    {"transmit", "write the probe's network setup",
     "vantalink-cli transmit [--ip A] [--mask M] [--gateway G] [--host H] [--config FILE] "
     "[GLOBAL OPTIONS]",
     "Does what the Transmit button does: writes the setup block (MAC address from the serial "
     "number, probe IP address, subnet mask, default gateway, configuration host, configuration "
     "file name) at 0x01008000, reads it back and compares it, and erases the configuration "
     "sector 0x010C0000. When the host address is 255.255.255.255 (or is no valid address) the "
     "configuration file and the register files its [REGS] section names are stored there as "
     "the stand-alone configuration; both files are read before anything is erased.\n\n"
     "An option left out takes the value the window saved last, else the window's default "
     "(111.111.111.111, 255.255.255.0, 255.255.255.255, 111.111.111.111, no file). The entries "
     "are checked as the window checks them: the probe IP address must be valid (\"Invalid IP "
     "address!\") and each address at most 15 characters. A summary tells what was written "
     "where.",
     "vantalink-cli transmit --port COM1 --ip 192.168.1.10 --mask 255.255.255.0 \\\n"
     "    --gateway 192.168.1.1 --host 192.168.1.2 --config probe.cfg\n"
     "# stand-alone: store probe.cfg and its register files in the probe\n"
     "vantalink-cli transmit --port COM1 --ip 10.0.0.7 --host 255.255.255.255 --config "
     "/srv/probe.cfg"},
    {"backup", "read the probe's flash into an S-record file",
     "vantalink-cli backup FILE [--range ADDR:LEN] [GLOBAL OPTIONS]",
     "Connects and reads the probe's flash, every sector but the loader's (0x01008000 to "
     "0x010FFFFF), or the --range given, and writes it to FILE as Motorola S-records: an S0 "
     "header naming the probe's serial number, loader version and the time, S3 records of 32 "
     "bytes, and an S7 end record. FILE is written under a temporary name and renamed only when "
     "complete; a failed backup leaves no FILE behind (and an older FILE as it was).",
     "vantalink-cli backup probe-12345678.s19 --port COM1\n"
     "# just the setup block\n"
     "vantalink-cli backup setup.s19 --range 0x01008000:104 --port COM1"},
    {"restore", "program an S-record backup back into the probe's flash",
     "vantalink-cli restore FILE [GLOBAL OPTIONS]",
     "Checks the whole FILE before the probe is touched: every line a well-formed S-record with "
     "a correct checksum, every address inside the flash and outside the loader's sector "
     "(0x01000000 to 0x01007FFF). A file that fails the check is refused, naming the line, and "
     "nothing is erased (exit status 5). Then it erases only the sectors the file touches (what "
     "a sector holds outside the file, as after a --range backup, is read first and kept), "
     "writes the file's bytes, writes the firmware validity marker (the first four bytes at "
     "0x01040000) last when the firmware sector is among them, and reads every touched sector "
     "back (exit status 6 when it differs). backup, erase and restore give the same flash byte "
     "for byte.",
     "vantalink-cli restore probe-12345678.s19 --port COM1"},
    {"setup", "show the network setup the probe holds",
     "vantalink-cli setup show [--extract DIR] [GLOBAL OPTIONS]",
     "Connects and reads the setup block at 0x01008000: the MAC address stored in it, the probe's "
     "IP address, subnet mask, gateway, configuration host and configuration file name, or that "
     "the block is erased or malformed. With the host 255.255.255.255 it also shows the "
     "configuration file stored at 0x010C0000 (size and first lines) and the register records "
     "at 0x010D0000 (tag, size and the name the configuration gives each).\n\n"
     "--extract DIR writes the stored configuration file and every register file into DIR, "
     "under the names the setup gives them. --json prints the same as one object.",
     "vantalink-cli setup show --port COM1\n"
     "vantalink-cli setup show --port COM1 --json --extract ./from-probe"},
    {"scan", "find the probes on every serial device", "vantalink-cli scan [GLOBAL OPTIONS]",
     "Lists every serial device you could open: /dev/serial/by-id/*, /dev/ttyUSB*, "
     "/dev/ttyACM*, the /dev/ttyS* with a UART behind them, and the COM links made by 'ports "
     "--map'. Each device is listed once, with its stable by-id name and the COM names that "
     "stand for it. All devices are tried at once with a short connect (up to three attempts, "
     "one when nothing answers at any speed), which touches no flash; a probe is left as every "
     "command leaves it (its firmware running, or its loader with --stay-in-loader).\n\n"
     "Each row shows the port, COM names, by-id name and what was found: a probe's serial "
     "number and loader, firmware and logic versions; that no loader answered; or why the "
     "device cannot be used: missing (a COM link to a device that is gone), busy (open in "
     "another program, named with its pid, or locked), not permitted (with the device's "
     "group). A serial device another program has open is reported, never opened. --json "
     "gives the same as an array of objects (port, byId, com, probe, serial, loader, firmware, "
     "logic, or reason as in the other commands' error.reason).\n\n"
     "The exit status is 0 whenever the scan ran, whether or not a probe was found; the list "
     "says what was found. It is 2 for a bad option (scan takes no --port).",
     "vantalink-cli scan\n"
     "# the serial numbers of the probes found\n"
     "vantalink-cli scan --json | jq -r '.[] | select(.probe) | .serial'"},
    {"ports", "list the COM names and map them to devices",
     "vantalink-cli ports [--map COMn DEVICE | --unmap COMn] [--json]",
     "Lists COM1 to COM19 with the device each stands for and whether it exists. --map points "
     "COMn at a device (a symbolic link in ~/.config/Norvane/ports/), which the window's Port "
     "list and --port COMn use from then on; --unmap removes such a link.",
     "vantalink-cli ports\n"
     "vantalink-cli ports --map COM5 /dev/ttyUSB0\n"
     "vantalink-cli ports --unmap COM5"},
};

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

const std::vector<HelpFile> kFiles = {
    {"~/.config/Norvane/vantaLink.conf",
     "The window's settings: port, speed and the setup entries, saved when the window is left "
     "with Ok. The command line takes the port, speed and setup entries its options leave out "
     "from here. $XDG_CONFIG_HOME, when set, stands in for ~/.config."},
    {"~/.config/Norvane/ports/COMn",
     "A symbolic link that points the COM name COMn at a serial device (made by 'vantalink-cli "
     "ports --map COMn DEVICE'); without it COMn stands for /dev/ttyS<n-1>."},
    {"~/.local/share/Norvane/vantaLink/images/",
     "The user's firmware and logic images ($XDG_DATA_HOME/Norvane/vantaLink/images when "
     "$XDG_DATA_HOME is set). Images beside the program and in the system's directory count "
     "as well: the newest version across the three is used."},
    {"/usr/share/vantalink/images/", "Firmware and logic images for every user of the machine."},
};

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

}  // namespace

const HelpPage& FindHelpPage(const std::string& command) {
  for (const HelpPage& page : kPages) {
    if (command == page.name) return page;
  }
  return kProgram;
}

const HelpPage& WindowHelpPage() {
  return kWindow;
}

const std::vector<HelpFile>& HelpFiles() {
  return kFiles;
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
    for (const HelpPage& command : kPages) {
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
    for (const HelpFile& file : kFiles)
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
