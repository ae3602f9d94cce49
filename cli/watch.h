#pragma once
// A production bench: every serial device that appears in a directory (or, on Windows, among the
// system's COM ports) is served once, each probe
// on its own thread as in a run over several ports, with one line a probe, a running tally and a
// JSON log, until Ctrl-C or SIGTERM.
#include <string>

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/probe_session.h"

namespace vanta::cli {

struct WatchOptions {
  std::string place;    // where devices appear: a directory, or "" for the system's COM ports
  std::string logPath;  // "" none: else one JSON object a probe, appended line by line
  bool json = false;    // the probes' objects on standard output too, one a line
};

// Serves devices until stopped: the first stop request lets the probes being served finish, a
// second abandons them at once (and ends the process, naming them). Devices present at the start
// are not served; a device is served again when its name went away and came back. Returns
// EXIT_OK when every probe served passed, else the WorseStatus of all; EXIT_USAGE when the log
// cannot be opened.
ExitStatus RunWatch(const CliCommand& command, const JobSettings& settings,
                    const WatchOptions& options, Console& console);

}  // namespace vanta::cli
