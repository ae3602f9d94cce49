#include "setup/dotted_quad.h"

namespace vanta {

uint32_t ParseDottedQuad(const std::string& text) {
  uint32_t value = 0;
  int parts = 0;
  size_t at = 0;
  for (;;) {
    uint32_t part = 0;
    int digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      if (digits == 3) return kInvalidAddress;  // a fourth digit in a row
      part = part * 10 + static_cast<uint32_t>(text[at] - '0');
      ++digits;
      ++at;
    }
    if (part > 255) return kInvalidAddress;
    value = value * 256 + part;
    ++parts;
    if (at == text.size()) return parts == 4 ? value : kInvalidAddress;
    if (text[at] != '.' || parts == 4) return kInvalidAddress;
    ++at;
  }
}

}  // namespace vanta
