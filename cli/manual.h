#pragma once
// The installed manual pages, written in roff (the man macros) from the texts and options that
// --help prints, so the two cannot tell different stories.
#include <CLI/CLI.hpp>
#include <string>

namespace vanta::cli {

// vantalink-cli(1): the program's page with every command of app as a subsection.
std::string CommandLineManual(const CLI::App& app);

// vantalink(1): the window's page.
std::string WindowManual();

}  // namespace vanta::cli
