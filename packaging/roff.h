#pragma once
// Manual pages in roff (the man macros): text escaped so that roff prints it as written, and the
// page of a program whose options one CLI11 parser holds, written from the texts its --help
// prints so the two cannot tell different stories.
#include <CLI/CLI.hpp>
#include <string>

namespace vanta::roff {

// Text as roff reads it literally: a backslash is the escape character and '-' a hyphen that
// may be typeset as a dash, so options would not survive a copy and paste; a line starting with
// '.' or '\'' would be taken for a request.
std::string Escape(const std::string& text);

// A macro argument: quoted, with its own quotes as the dq character.
std::string Argument(const std::string& text);

// Each paragraph of text (separated by blank lines) behind a .PP, escaped.
std::string Paragraphs(const std::string& text);

// What a program's page says beside its options.
struct ProgramPage {
  std::string name;         // "vanta7-sim"
  std::string version;      // "vantaLink 1.2.0"
  std::string summary;      // the NAME line
  std::string description;  // paragraphs separated by blank lines
  std::string seeAlso;      // "vantalink-cli(1), vantalink(1)"
};

// NAME, SYNOPSIS, DESCRIPTION, OPTIONS (each option group but the first under a heading of its
// own, the values and defaults as --help shows them) and SEE ALSO.
std::string ProgramManual(const CLI::App& app, const ProgramPage& page);

}  // namespace vanta::roff
