#pragma once
// Big-endian field packing: every multi-byte number on the link and in the setup block is sent
// most significant byte first. Each function returns the advanced position.
#include <cstdint>

namespace vanta {

inline uint8_t* PutU8(uint8_t* at, uint8_t value) {
  *at = value;
  return at + 1;
}
inline uint8_t* PutU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
  return at + 2;
}
inline uint8_t* PutU32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
  return at + 4;
}
inline const uint8_t* GetU8(const uint8_t* at, uint8_t& value) {
  value = at[0];
  return at + 1;
}
inline const uint8_t* GetU16(const uint8_t* at, uint16_t& value) {
  value = static_cast<uint16_t>((at[0] << 8) | at[1]);
  return at + 2;
}
inline const uint8_t* GetU32(const uint8_t* at, uint32_t& value) {
  value = (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
          (static_cast<uint32_t>(at[2]) << 8) | at[3];
  return at + 4;
}

}  // namespace vanta
