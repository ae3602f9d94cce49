#pragma once
// One probe's run: its own link, controller and view on its own thread, from connect to leaving
// the probe, with what happened collected for the table and --json.
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/terminal_view.h"
#include "dialog/settings.h"
#include "link/loader.h"
#include "platform/serial_port.h"
#include "update/flash_backup.h"
#include "update/image_catalogue.h"

namespace vanta::cli {

enum class Command {
  LinkCheck,
  Info,
  ReadMemory,
  Update,
  Erase,
  Transmit,
  Backup,
  Restore,
  SetupShow
};

// What every probe of one run does; shared read-only by the probes' threads.
struct JobSettings {
  Command command = Command::Info;
  int speedIndex = 0;
  uint32_t speed = 0;  // a --speed outside the Speed list (asked of the probe); 0: the index's
  ImageDirectories imageDirs;  // where images are looked for, most preferred first
  bool trace = false;
  bool stayInLoader = false;
  YesNoPolicy yesNo = YesNoPolicy::AnswerNo;
  // The five setup texts (the window's edit fields).
  SetupTexts setup = DefaultSetupTexts();
  // update
  bool firmwareOnly = false, fast = false, verify = false;
  bool skipErased = true;  // with fast: runs of 0xFF left by the erase are not sent
  // read-memory
  uint32_t address = 0, count = 0;
  // link-check
  int transactions = 5;
  // backup, restore: the file; what backup reads; what restore writes (checked before any probe
  // is touched)
  std::string file;
  FlashRange range;
  std::shared_ptr<const FlashContents> restore;
  // setup show --extract: where the stored files go ("" none)
  std::string extractDir;
};

// One probe: the name the user gave and the device it stands for.
struct ProbeTarget {
  std::string label;   // "COM3" or "/dev/ttyUSB0"
  std::string device;  // what the link opens
  int portIndex = -1;  // Port list index of a COM name, else -1
};

struct ProbeResult {
  std::string label, device;
  bool connected = false;
  bool haveBefore = false, haveAfter = false;
  DeviceIdentity before, after;
  std::string macAddress;
  ImageVersion newestFirmware = 0, newestLogic = 0;
  bool updateAvailable = false;
  // Firmware sectors that --fast --verify erased and wrote again after their read-back differed.
  uint32_t rewrittenSectors = 0;
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
  std::vector<uint8_t> memory;                        // read-memory: the bytes read
  nlohmann::json details = nlohmann::json::object();  // facts of the command run
};

// Runs settings.command on one probe; never throws. slot is the probe's progress line.
ProbeResult RunProbeJob(const JobSettings& settings, const ProbeTarget& target, Console& console,
                        int slot);

}  // namespace vanta::cli
