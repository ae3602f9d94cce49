#pragma once
// The manual pages of vantalink-cli: one for the program and one for every command, printed by
// --help in the sections of a man page, and the window's page. The installed man pages are made
// from the same texts.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace vanta::cli {

// The page of one command, or of the program for "" / "vantalink-cli".
struct HelpPage {
  const char* name;
  const char* summary;  // NAME line
  const char* synopsis;
  const char* description;  // paragraphs separated by blank lines
  const char* examples;     // one example a line, comments start with '#'
};

// A file the programs read, as FILES lists it.
struct HelpFile {
  const char* path;
  const char* about;
};

// One option or positional argument as OPTIONS lists it.
struct OptionHelp {
  std::string names;  // "-p,--port", or "FILE" for a positional argument
  std::string value;  // "COMn|DEVICE"; empty for a flag
  std::string description;
};

// The page for a command name; the program's page for any other name.
const HelpPage& FindHelpPage(const std::string& command);

// The page of the window, vantalink.
const HelpPage& WindowHelpPage();

// What the pages say differently on each system: its paths, device places, port names and keys.
// One file a system gives it; the pages put it into their shared texts.
struct HostHelp {
  const char* watchPlaces;       // where --watch sees devices appear
  const char* notReadyYet;       // why a device that appeared may refuse its first opens
  const char* stopKeys;          // what stops a watch
  const char* portNames;         // what a port is and what COMn stands for
  const char* savedSettings;     // where the window keeps its port, speed and setup
  const char* deviceExample;     // a port as an example names it
  const char* portsExample;      // the example of ports
  const char* scanDevices;       // what scan lists, how each device is named
  const char* scanUnusable;      // why a device cannot be used, as a scan row says
  const char* portsDescription;  // the page of ports
  const char* portsExamples;
};
const HostHelp& ThisHostHelp();

// The program's page and the files both the window and the command line use: they name the
// paths and port names of the system built for.
const HelpPage& ProgramHelpPage();
const std::vector<HelpFile>& HelpFiles();

// What EXIT STATUS says below the list of statuses.
const char* ExitStatusNote();

// app's options in the order they were added; skipHelp leaves out -h,--help.
std::vector<OptionHelp> ListOptions(const CLI::App* app, bool skipHelp);

// Wraps text (paragraphs separated by "\n\n") to width columns with indent blanks in front.
std::string WrapText(const std::string& text, size_t indent, size_t width = 79);

// CLI11's help in man-page form: NAME, SYNOPSIS, DESCRIPTION, OPTIONS (and the global options for
// a command), EXIT STATUS, EXAMPLES.
class ManFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
};

}  // namespace vanta::cli
