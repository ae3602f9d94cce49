#pragma once
// Exit statuses of vantalink-cli, one per class of failure, and how flow results map onto them.
#include <string>

#include "link/result_codes.h"

namespace vanta::cli {

enum ExitStatus : int {
  EXIT_OK = 0,
  EXIT_OTHER = 1,       // anything not listed below (a port link that cannot be made, ...)
  EXIT_USAGE = 2,       // bad options or arguments, an entry the window would refuse too
  EXIT_CONNECT = 3,     // the port cannot be opened or no loader answers
  EXIT_COMM = 4,        // the probe stopped answering or reported a failure
  EXIT_IMAGE = 5,       // a firmware or logic image file is missing, unreadable or malformed
  EXIT_VERIFY = 6,      // data read back from the probe differs from what was written
  EXIT_SETUP_FILE = 7,  // the configuration file or a register file cannot be used
  EXIT_DECLINED = 8,    // the erase was not confirmed
};

// The class of a message box text the flows show; EXIT_OK for a text that names no class by
// itself ("Firmware update failed!", "Transfer failed!": the caller looks further).
ExitStatus ClassifyMessage(const std::string& text);

// The class of a result code of the core.
ExitStatus ClassifyResult(ResultCode code);

// One line for --help.
const char* ExitStatusName(ExitStatus status);

}  // namespace vanta::cli
