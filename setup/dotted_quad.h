#pragma once
#include <cstdint>
#include <string>

namespace vanta {

inline constexpr uint32_t kInvalidAddress = 0xFFFFFFFF;  // also 255.255.255.255

// "192.168.1.10" gives 0xC0A8010A. Four parts of at most three decimal digits (none counts 0),
// each at most 255; anything else gives 0xFFFFFFFF.
uint32_t ParseDottedQuad(const std::string& text);

}  // namespace vanta
