#include "sim/logic_model.h"

namespace vanta::sim {

LogicModel::LogicModel() {
  Erase();
}

void LogicModel::Erase() {
  rows_.assign(kRows, std::string(kFuses, '1'));
  ues_.assign(kUesBits, '1');
}

bool LogicModel::AndInto(std::string& target, const uint8_t* bits, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bits[i] != '0' && bits[i] != '1') return false;
  }
  for (size_t i = 0; i < count; ++i) {
    if (bits[i] == '0') target[i] = '0';
  }
  return true;
}

bool LogicModel::ProgramRow(int row, const uint8_t* fuses) {
  if (row < 0 || row >= kRows) return false;
  return AndInto(rows_[row], fuses, kFuses);
}

bool LogicModel::ProgramUes(const uint8_t* bits) {
  return AndInto(ues_, bits, kUesBits);
}

std::string LogicModel::UesText() const {
  std::string text;
  for (int c = 0; c < kUesBits / 8; ++c) {
    unsigned value = 0;
    for (int b = 0; b < 8; ++b) value = (value << 1) | (ues_[c * 8 + b] == '1' ? 1u : 0u);
    if (value == 0) break;
    text.push_back(static_cast<char>(value));
  }
  return text;
}

uint16_t LogicModel::StoredVersion() const {
  const std::string text = UesText();
  if (text.size() != 10 || text.compare(0, 7, "B6001E9") != 0) return 0;
  uint16_t version = 9000;
  for (size_t i = 7; i < 10; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
  }
  version += static_cast<uint16_t>((text[7] - '0') * 100 + (text[8] - '0') * 10 + (text[9] - '0'));
  return version;
}

std::string LogicModel::UesBits(const std::string& text) {
  std::string bits;
  for (size_t p = 0; p < kUesBits / 8; ++p) {
    const unsigned char c = p < text.size() ? static_cast<unsigned char>(text[p]) : 0;
    for (int b = 7; b >= 0; --b) bits.push_back((c >> b) & 1 ? '1' : '0');
  }
  return bits;
}

}  // namespace vanta::sim
