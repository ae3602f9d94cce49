// What the pages say of Linux: its paths, device places, port names and keys.
#include "cli/help_text.h"

namespace vanta::cli {
namespace {

constexpr HostHelp kHost = {
    "serial device that appears in /dev/serial/by-id, or in --watch-dir DIR",
    "udev not done with it yet, or busy",
    "Ctrl-C or SIGTERM",
    "A port is a COM name or a device path. COMn stands for the link COMn in "
    "~/.config/Norvane/ports/ (made by 'vantalink-cli ports --map'), else for /dev/ttyS<n-1>, as "
    "in the window's Port list.",
    "~/.config/Norvane/vantaLink.conf, or under $XDG_CONFIG_HOME",
    "/dev/ttyUSB0",
    "vantalink-cli ports --map COM5 /dev/ttyUSB0",
    "Lists every serial device you could open: /dev/serial/by-id/*, /dev/ttyUSB*, "
    "/dev/ttyACM*, the /dev/ttyS* with a UART behind them, and the COM links made by 'ports "
    "--map'. Each device is listed once, with its stable by-id name and the COM names that "
    "stand for it.",
    "missing (a COM link to a device that is gone), busy (open in another program, named with "
    "its pid, or locked), not permitted (with the device's group). A serial device another "
    "program has open is reported, never opened.",
    "Lists COM1 to COM19 with the device each stands for and whether it exists. --map points "
    "COMn at a device (a symbolic link in ~/.config/Norvane/ports/), which the window's Port "
    "list and --port COMn use from then on; --unmap removes such a link.",
    "vantalink-cli ports\n"
    "vantalink-cli ports --map COM5 /dev/ttyUSB0\n"
    "vantalink-cli ports --unmap COM5"};

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

}  // namespace

const HostHelp& ThisHostHelp() {
  return kHost;
}

const std::vector<HelpFile>& HelpFiles() {
  return kFiles;
}

}  // namespace vanta::cli
