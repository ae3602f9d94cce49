#pragma once
// The manual pages of vantalink-cli: one for the program and one for every command, printed by
// --help in the sections of a man page.
#include <CLI/CLI.hpp>
#include <string>

namespace vanta::cli {

// The page of one command, or of the program for "" / "vantalink-cli".
struct HelpPage {
  const char* name;
  const char* summary;  // NAME line
  const char* synopsis;
  const char* description;  // paragraphs separated by blank lines
  const char* examples;     // one example a line, comments start with '#'
};

// The page for a command name; the program's page for any other name.
const HelpPage& FindHelpPage(const std::string& command);

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
