#pragma once
// Motorola S-record lines.
#include <cstdint>
#include <string>

namespace vanta {

// table[high] * 16 + table[low], the table covering '0'..'G' (':'..'@' and 'G' count 0).
// Characters outside that range count 0.
uint8_t HexByte(char high, char low);

// Parses one line (line end still attached; the copy is upper-cased). Returns the number of data
// bytes (> 0) stored at data[0..] with address set, 0 for a record that carries nothing to
// program (S0, S5, S7, S8, S9, or a data record without data), -1 for a bad record.
// data has room for 256 bytes.
int ParseSRecord(std::string line, uint32_t& address, uint8_t* data);

}  // namespace vanta
