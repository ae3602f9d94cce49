// What the pages say of Windows: its paths, port names and keys.
#include "cli/help_text.h"

namespace vanta::cli {
namespace {

constexpr HostHelp kHost = {
    "COM port that appears among the system's ports (or on every device that appears in "
    "--watch-dir DIR)",
    "its driver not done with it yet, or busy",
    "Ctrl-C or Ctrl-Break",
    "A port is a COM name: COMn is the system's port \\\\.\\COMn (COM10 and above too), as in "
    "the window's Port list.",
    "the registry key HKEY_CURRENT_USER\\Software\\Norvane\\vantaLink\\Vanta7 PPC4xx",
    "COM12",
    "vantalink-cli ports",
    "Lists every COM port the system has: the ports its drivers enter under "
    "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM and the COM names among its devices. "
    "Each port is listed once, by its COM name.",
    "busy (open in another program: the system refuses a second open of a COM port), not "
    "permitted, or the system's own reason.",
    "Lists COM1 to COM19 with the system's port each stands for (\\\\.\\COMn) and whether the "
    "system has it. Windows names its ports itself: --map and --unmap are refused, with the "
    "advice to use the COM number the system gives (Device Manager, Ports (COM & LPT)).",
    "vantalink-cli ports\n"
    "vantalink-cli ports --json"};

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

const HostHelp& ThisHostHelp() {
  return kHost;
}

const std::vector<HelpFile>& HelpFiles() {
  return kFiles;
}

}  // namespace vanta::cli
