#pragma once
// What the shell's completion needs to know of the command line, read from the parser itself so
// a new command or option completes without touching the completion script.
#include <CLI/CLI.hpp>
#include <string>

namespace vanta::cli {

// One line a word, fields separated by blanks:
//   command NAME
//   option SCOPE NAME [KIND...]     one KIND for each value the option takes, none for a flag
//   positional SCOPE NAME KIND      in the order the command takes them
// SCOPE is the command's name, or "-" for the options every command takes. A KIND says what to
// offer: port (COM names and serial devices), ports (a comma-separated list of them), com,
// device, speed, file, dir, words:A,B,... (one of those), or any (nothing to offer).
std::string CompletionTable(const CLI::App& app);

}  // namespace vanta::cli
