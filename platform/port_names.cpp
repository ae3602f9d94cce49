#include <string>
#include <vector>

#include "platform/ports.h"

namespace vanta {
namespace {

bool StartsWithCom(const std::string& text) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return text.size() >= 3 && upper(text[0]) == 'C' && upper(text[1]) == 'O' &&
         upper(text[2]) == 'M';
}

}  // namespace

int ComNumber(const std::string& name) {
  std::string rest = name;
  if (rest.rfind("\\\\.\\", 0) == 0) rest = rest.substr(4);
  if (rest.size() < 4 || rest.size() > 3 + 6) return -1;  // up to six digits
  if (!StartsWithCom(rest)) return -1;
  int number = 0;
  for (size_t i = 3; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9') return -1;
    number = number * 10 + (rest[i] - '0');
  }
  return number;
}

std::string HolderText(const std::vector<PortHolder>& holders) {
  std::string text;
  for (const PortHolder& holder : holders) {
    if (!text.empty()) text += ", ";
    text += holder.command + " (pid " + std::to_string(holder.pid) + ")";
  }
  return text;
}

}  // namespace vanta
