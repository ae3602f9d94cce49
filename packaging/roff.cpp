#include "packaging/roff.h"

#include <cctype>
#include <sstream>
#include <vector>

namespace vanta::roff {

std::string Escape(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

std::string Argument(const std::string& text) {
  std::string out = "\"";
  for (char c : Escape(text)) {
    if (c == '"') {
      out += "\\(dq";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Paragraphs(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\n\n", start);
    out +=
        ".PP\n" + Escape(text.substr(start, end == std::string::npos ? end : end - start)) + "\n";
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return out;
}

namespace {

// "-v,--verbose" with "FILE": the names in bold, the value in italics, then what it does and the
// default --help shows.
std::string OptionItem(const CLI::Option& option) {
  std::string head;
  std::istringstream names(option.get_name(false, true));
  std::string name;
  while (std::getline(names, name, ',')) {
    head += (head.empty() ? "" : ", ") + ("\\fB" + Escape(name) + "\\fR");
  }
  if (option.get_type_size() > 0 && !option.get_type_name().empty()) {
    head += " \\fI" + Escape(option.get_type_name()) + "\\fR";
  }
  std::string about = option.get_description();
  // A description that names its default already keeps its own words.
  if (!option.get_default_str().empty() && about.find("(default") == std::string::npos) {
    about += " (default " + option.get_default_str() + ")";
  }
  return ".TP\n" + head + "\n" + Escape(about) + "\n";
}

}  // namespace

std::string ProgramManual(const CLI::App& app, const ProgramPage& page) {
  std::string upper;
  for (char c : page.name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string out = ".TH " + Argument(upper) + " 1 \"\" " + Argument(page.version) +
                    " \"User Commands\"\n"
                    // Paths and option names are not to be hyphenated, nor lines stretched.
                    ".nh\n.ad l\n.SH NAME\n" +
                    Escape(page.name) + " \\- " + Escape(page.summary) + "\n";
  out += ".SH SYNOPSIS\n.SY " + Argument(page.name) + "\n[OPTIONS]\n.YS\n";
  out += ".SH DESCRIPTION\n";
  out += Paragraphs(page.description);

  // The groups in the order their first option was added, as --help lists them.
  std::vector<std::string> groups;
  for (const CLI::Option* option : app.get_options()) {
    if (option == app.get_help_ptr()) continue;
    bool known = false;
    for (const std::string& group : groups) known = known || group == option->get_group();
    if (!known) groups.push_back(option->get_group());
  }
  out += ".SH OPTIONS\n";
  for (size_t g = 0; g < groups.size(); ++g) {
    if (g > 0) out += ".SS " + Argument(groups[g]) + "\n";
    for (const CLI::Option* option : app.get_options()) {
      if (option != app.get_help_ptr() && option->get_group() == groups[g]) {
        out += OptionItem(*option);
      }
    }
  }
  out += ".SH \"SEE ALSO\"\n" + Escape(page.seeAlso) + "\n";
  return out;
}

}  // namespace vanta::roff
