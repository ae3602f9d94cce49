#include "cli/manual.h"

#include <cctype>
#include <set>
#include <sstream>

#include "cli/exit_status.h"
#include "cli/help_text.h"
#include "packaging/roff.h"

namespace vanta::cli {
namespace {

using roff::Argument;
using roff::Escape;
using roff::Paragraphs;

// "vantalink-cli update [--fast] ...": the program and command in bold, the rest as given.
std::string Synopsis(const std::string& synopsis, const std::string& command) {
  std::string name = "vantalink-cli";
  if (!command.empty()) name += " " + command;
  if (synopsis.rfind(name, 0) != 0) name = synopsis.substr(0, synopsis.find(' '));
  std::string rest = synopsis.substr(name.size());
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  return ".SY " + Argument(name) + "\n" + (rest.empty() ? "" : Escape(rest) + "\n") + ".YS\n";
}

// "-p,--port" with "COMn|DEVICE": the names in bold, the value in italics.
std::string OptionItem(const OptionHelp& option, bool positional) {
  std::string head;
  if (positional) {
    head = "\\fI" + Escape(option.names) + "\\fR";
  } else {
    std::istringstream names(option.names);
    std::string name;
    while (std::getline(names, name, ',')) {
      head += (head.empty() ? "" : ", ") + ("\\fB" + Escape(name) + "\\fR");
    }
  }
  if (!option.value.empty()) head += " \\fI" + Escape(option.value) + "\\fR";
  return ".TP\n" + head + "\n" + Escape(option.description) + "\n";
}

std::string Options(const CLI::App* app, bool skipHelp) {
  std::string out;
  for (const OptionHelp& option : ListOptions(app, skipHelp)) {
    out += OptionItem(option, option.names.rfind('-', 0) != 0);
  }
  return out;
}

std::string Files() {
  std::string out = ".SH FILES\n";
  for (const HelpFile& file : HelpFiles()) {
    out += ".TP\n.I " + Argument(file.path) + "\n" + Escape(file.about) + "\n";
  }
  return out;
}

std::string Header(const std::string& name, const HelpPage& page) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ".TH " + Argument(upper) + " 1 \"\" " + Argument("vantaLink " VANTA_VERSION) +
         " \"User Commands\"\n"
         // Paths and option names are not to be hyphenated, nor lines stretched to the margin.
         ".nh\n.ad l\n.SH NAME\n" +
         Escape(name) + " \\- " + Escape(page.summary) + "\n";
}

std::string Examples(const std::string& examples) {
  return ".EX\n" + Escape(examples) + "\n.EE\n";
}

}  // namespace

std::string CommandLineManual(const CLI::App& app) {
  const HelpPage& program = FindHelpPage("");
  std::vector<const CLI::App*> commands = app.get_subcommands({});
  std::string out = Header("vantalink-cli", program);
  out += ".SH SYNOPSIS\n" + Synopsis(program.synopsis, "");
  for (const CLI::App* command : commands) {
    out += Synopsis(FindHelpPage(command->get_name()).synopsis, command->get_name());
  }
  out += ".SH DESCRIPTION\n" + Paragraphs(program.description);

  out += ".SH COMMANDS\n";
  for (const CLI::App* command : commands) {
    const HelpPage& page = FindHelpPage(command->get_name());
    out += ".SS " + Argument(command->get_name() + " - " + page.summary) + "\n";
    out += Paragraphs(page.description);
    // The command's own options, without the -h,--help every command takes.
    std::string options = Options(command, true);
    if (!options.empty())
      out += ".PP\n" + Escape("Options of " + command->get_name() + ":") + "\n.RS\n" + options +
             ".RE\n";
  }

  out += ".SH OPTIONS\n.PP\nThese options go with every command, before or after its name.\n";
  out += Options(&app, false);
  out += Files();

  out += ".SH \"EXIT STATUS\"\n";
  for (int status = EXIT_OK; status <= EXIT_DECLINED; ++status) {
    out += ".TP\n.B " + std::to_string(status) + "\n" +
           Escape(ExitStatusName(static_cast<ExitStatus>(status))) + "\n";
  }
  out += ".PP\n" + Escape(ExitStatusNote()) + "\n";

  // Every page's examples once, the program's first.
  out += ".SH EXAMPLES\n";
  std::set<std::string> seen;
  std::string examples;
  auto add = [&](const std::string& lines) {
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind('#', 0) == 0 || seen.insert(line).second) examples += line + "\n";
    }
  };
  add(program.examples);
  for (const CLI::App* command : commands) add(FindHelpPage(command->get_name()).examples);
  examples.pop_back();
  out += Examples(examples);
  out += ".SH \"SEE ALSO\"\n.BR vantalink (1)\n";
  return out;
}

std::string WindowManual() {
  const HelpPage& page = WindowHelpPage();
  std::string out = Header(page.name, page);
  out += ".SH SYNOPSIS\n" + Synopsis(page.synopsis, "") + ".SH DESCRIPTION\n" +
         Paragraphs(page.description) + Files();
  out += ".SH \"SEE ALSO\"\n.BR vantalink\\-cli (1)\n";
  return out;
}

}  // namespace vanta::cli
