#pragma once
// The probe's ispLSI logic device: 134 rows of 240 fuses and a 120-bit UES. A fuse reads '1'
// erased and '0' programmed, so programming a row ANDs the new pattern into it.
#include <cstdint>
#include <string>
#include <vector>

namespace vanta::sim {

class LogicModel {
 public:
  static constexpr int kRows = 134;
  static constexpr int kFuses = 240;
  static constexpr int kUesBits = 120;

  LogicModel();  // erased

  void Erase();  // every fuse and the UES back to '1'
  // ANDs the 240 characters at fuses into row ('0' programs a fuse, '1' leaves it). false,
  // nothing changed, for a row beyond 133 or a character other than '0' and '1'.
  bool ProgramRow(int row, const uint8_t* fuses);
  bool ProgramUes(const uint8_t* bits);  // 120 characters, as for rows

  // The row as the programmed-state and the erased-state reading see it (equal when healthy).
  const std::string& Row(int row) const { return rows_[row]; }
  const std::vector<std::string>& Rows() const { return rows_; }
  const std::string& Ues() const { return ues_; }

  // The UES as text: 15 characters of 8 bits each, most significant first, up to the first NUL.
  std::string UesText() const;
  // 9nnn when the UES text is "B6001E9nnn", else 0: the logic version as the loader reports it.
  uint16_t StoredVersion() const;

  // The 120-character bit text of text (first 15 characters, NUL padded), as the tool sends it.
  static std::string UesBits(const std::string& text);

 private:
  bool AndInto(std::string& target, const uint8_t* bits, size_t count);
  std::vector<std::string> rows_;
  std::string ues_;
};

}  // namespace vanta::sim
