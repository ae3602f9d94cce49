// The pages that name this system's paths: the program's page and the files, on Windows.
#include "cli/help_text.h"

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
    "runs once on every COM port that appears among the system's ports (or on every device that "
    "appears in --watch-dir DIR), "
    "each on its own thread so that several probes are served at once. One line a probe gives "
    "the time, port, serial number, versions before and after, seconds and result, and the "
    "tally of passed and failed probes. Devices present when the watch starts are not served; "
    "a device is served again after it was unplugged and plugged back in. A device that "
    "refuses to open (its driver not done with it yet, or busy) is tried again, up to five times a "
    "second apart, before it counts as failed. --log FILE appends each probe's --json object, "
    "with the time it ended, as one line written at once; --json prints the same lines on "
    "standard output. Ctrl-C or Ctrl-Break stops the watch: the probes being served are finished "
    "first, then a summary is printed. A second Ctrl-C ends at once and abandons the probes "
    "still being served, naming each and the step it was in: a probe abandoned in the middle "
    "of a write is left half written, and must be plugged in again. --watch does not go with "
    "--port or --ports.\n\n"
    "A port is a COM name: COMn is the system's port \\\\.\\COMn (COM10 and above too), as in "
    "the window's Port list. Without --port and --speed the port and speed the window saved "
    "last are used (the registry key HKEY_CURRENT_USER\\Software\\Norvane\\vantaLink\\Vanta7 "
    "PPC4xx), else 9600 "
    "bit/s and the port a scan finds (see scan): when it finds exactly one probe the command "
    "serves it and says on standard error which port it chose; with none or several it stops "
    "with the scan's list and exit status 2.\n\n"
    "On a terminal the progress of each probe is a bar on its own line; otherwise the status "
    "texts are printed as lines. Results go to standard output, progress, messages and traces "
    "to standard error. Run 'vantalink-cli COMMAND --help' for the page of a command.",
    "vantalink-cli info --port COM1\n"
    "vantalink-cli scan\n"
    "vantalink-cli info --port COM12 --speed 115200 --json\n"
    "vantalink-cli update --ports COM1,COM2,COM3,COM4 --speed 115200\n"
    "vantalink-cli ports\n"
    "vantalink-cli link-check --port COM5 --trace\n"
    "# a bench: every probe plugged in from now on, until Ctrl-C\n"
    "vantalink-cli update --watch --speed 115200 --log bench.jsonl"};

const std::vector<HelpFile> kFiles = {
    {"HKEY_CURRENT_USER\\Software\\Norvane\\vantaLink\\Vanta7 PPC4xx",
     "The window's settings: port, speed and the setup entries, saved when the window is left "
     "with Ok. The command line takes the port, speed and setup entries its options leave out "
     "from here."},
    {"%LOCALAPPDATA%\\Norvane\\vantaLink\\images\\",
     "The user's firmware and logic images. Images beside the program and in the machine's "
     "directory count as well: the newest version across the three is used."},
    {"%PROGRAMDATA%\\Norvane\\vantaLink\\images\\",
     "Firmware and logic images for every user of the machine."},
};

}  // namespace

const HelpPage& ProgramHelpPage() {
  return kProgram;
}

const std::vector<HelpFile>& HelpFiles() {
  return kFiles;
}

}  // namespace vanta::cli
