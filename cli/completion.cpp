#include "cli/completion.h"

#include <sstream>
#include <vector>

#include "cli/commands/command.h"

namespace vanta::cli {
namespace {

// The kind of a value from the name the help shows for it.
std::string KindOf(const std::string& metavar, const std::string& typeName) {
  // A value checked against a set shows it as TYPE:{a,b}.
  const size_t set = typeName.find(":{");
  if (set != std::string::npos && typeName.back() == '}') {
    return "words:" + typeName.substr(set + 2, typeName.size() - set - 3);
  }
  if (metavar == "COMn|DEVICE") return "port";
  if (metavar.rfind("COM1,", 0) == 0) return "ports";
  if (metavar == "COMn") return "com";
  if (metavar == "DEVICE") return "device";
  if (metavar == "BITS") return "speed";
  auto endsWith = [&](const std::string& tail) {
    return metavar.size() >= tail.size() &&
           metavar.compare(metavar.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith("DIR")) return "dir";
  if (endsWith("FILE")) return "file";
  return "any";
}

// The global options that only a watch takes: offered with the commands --watch serves.
bool WatchOnly(const CLI::Option* option) {
  const std::string name = option->get_name();
  return name == "--watch" || name == "--watch-dir" || name == "--log";
}

// which: every option, only the watch's, or all but the watch's.
enum class Which { All, WatchOnly, NotWatch };

void AddOptions(const CLI::App* app, const std::string& scope, std::string& out,
                Which which = Which::All) {
  for (const CLI::Option* option : app->get_options()) {
    if ((which == Which::WatchOnly && !WatchOnly(option)) ||
        (which == Which::NotWatch && WatchOnly(option))) {
      continue;
    }
    const bool positional = option->get_lnames().empty() && option->get_snames().empty();
    if (positional) {
      const std::string name = option->get_name(true);
      out +=
          "positional " + scope + " " + name + " " + KindOf(name, option->get_type_name()) + "\n";
      continue;
    }
    std::string kinds;
    if (option->get_expected_max() > 0) {  // not a flag
      // "COMn DEVICE": an option that takes two values, one kind each.
      std::istringstream metavars(option->get_option_text());
      std::string metavar;
      while (metavars >> metavar) kinds += " " + KindOf(metavar, option->get_type_name());
      if (kinds.empty()) kinds = " " + KindOf("", option->get_type_name());
    }
    std::vector<std::string> names;
    for (const std::string& name : option->get_snames()) names.push_back("-" + name);
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    for (const std::string& name : names) out += "option " + scope + " " + name + kinds + "\n";
  }
}

}  // namespace

std::string CompletionTable(const CLI::App& app) {
  std::string out;
  std::vector<const CLI::App*> commands = app.get_subcommands({});
  for (const CLI::App* command : commands) out += "command " + command->get_name() + "\n";
  AddOptions(&app, "-", out, Which::NotWatch);
  for (const CLI::App* command : commands) {
    AddOptions(command, command->get_name(), out);
    const CommandRow* row = FindCommand(command->get_name());
    if (row != nullptr && row->traits.watchable) {
      AddOptions(&app, command->get_name(), out, Which::WatchOnly);
    }
  }
  return out;
}

}  // namespace vanta::cli
