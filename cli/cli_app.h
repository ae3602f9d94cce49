#pragma once
// vantalink-cli: the window's flows on a terminal, for one probe or a tray of them.
namespace vanta::cli {

// Parses the command line, runs the command on every probe named and prints the results.
// Returns the process's exit status (see ExitStatus).
int RunCli(int argc, char** argv);

}  // namespace vanta::cli
