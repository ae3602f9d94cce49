#pragma once
// Exit statuses of vantalink-cli, one per class of failure, and the one table that turns a flow's
// outcome into its exit status and its sentence.
#include <string>

#include "link/result_codes.h"
#include "update/flow_outcome.h"

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

// The class of an outcome: from its stage, except that a read-back that differs (LDR_E_VERIFY)
// is a verification failure wherever it happened.
ExitStatus ExitStatusOf(const FlowOutcome& outcome);

// One sentence on what went wrong: the failing code's meaning, or the stage's where the failure
// has no code ("a loader answered, but no Vanta7").
const char* OutcomeSentence(const FlowOutcome& outcome);

// The one line a failed probe's result shows: stage, then detail (what the command line knows
// beyond the outcome: the file and line, the address) or else the sentence, then the code's name.
std::string OutcomeLine(const FlowOutcome& outcome, const std::string& detail);

// The worse of two statuses, for a watch that reports one status for every probe it served: a
// probe left holding wrong data (6) first, then one left part-written or unreachable (4), any
// other failure (1), a refused entry (2), the files every probe needs (7, 5), a device that was
// no probe or could not be opened (3), an erase not confirmed (8); success last.
ExitStatus WorseStatus(ExitStatus a, ExitStatus b);

// One line for --help.
const char* ExitStatusName(ExitStatus status);

}  // namespace vanta::cli
