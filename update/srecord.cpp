#include "update/srecord.h"

#include <cctype>

namespace vanta {

namespace {

// Indexed by the character's code minus '0': '0'..'9', then ':'..'@' (0), 'A'..'F', 'G' (0).
constexpr uint8_t kHexTable[24] = {0, 1, 2, 3, 4, 5,  6,  7,  8,  9,  0,  0,
                                   0, 0, 0, 0, 0, 10, 11, 12, 13, 14, 15, 0};

uint8_t HexDigit(char c) {
  const int index = static_cast<unsigned char>(c) - '0';
  if (index < 0 || index >= 24) return 0;
  return kHexTable[index];
}

}  // namespace

uint8_t HexByte(char high, char low) {
  return static_cast<uint8_t>(HexDigit(high) * 16 + HexDigit(low));
}

int ParseSRecord(std::string line, uint32_t& address, uint8_t* data) {
  for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (line.empty()) return -1;
  const size_t p = line.find('S');
  if (p == std::string::npos) return -1;

  // Characters past the end read as NUL, so a line too short for type and count cannot pass the
  // length check below.
  const auto at = [&line](size_t i) { return i < line.size() ? line[i] : '\0'; };
  const char type = at(p + 1);
  const unsigned count = HexByte(at(p + 2), at(p + 3));

  // The single line-end character is part of the length, so a last line without one fails too.
  if (line.size() != p + 5 + 2 * size_t{count}) return -1;

  unsigned addressSize = 0;
  switch (type) {
    case '1':
      addressSize = 2;
      break;
    case '2':
      addressSize = 3;
      break;
    case '3':
      addressSize = 4;
      break;
    default:
      return 0;  // header, count and end records carry nothing to program
  }
  if (count < addressSize + 1) return -1;

  size_t pos = p + 4;
  const auto next = [&line, &pos]() {
    const uint8_t byte = HexByte(line[pos], line[pos + 1]);
    pos += 2;
    return byte;
  };

  uint8_t sum = static_cast<uint8_t>(count);
  uint32_t value = 0;
  for (unsigned i = 0; i < addressSize; ++i) {
    const uint8_t byte = next();
    value = (value << 8) + byte;
    sum = static_cast<uint8_t>(sum + byte);
  }
  const unsigned dataLength = count - addressSize - 1;
  for (unsigned i = 0; i < dataLength; ++i) {
    data[i] = next();
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  const uint8_t checksum = next();
  if (static_cast<uint8_t>(sum + checksum) != 0xFF) return -1;
  address = value;
  return static_cast<int>(dataLength);
}

}  // namespace vanta
