#pragma once
// Line-speed access of a terminal device for speeds outside the termios table. Kept apart from
// serial_port_posix.cpp because <asm/termbits.h> clashes with <termios.h>.
#include <cstdint>

namespace vanta::detail {

// Sets the terminal's input and output speed to bitsPerSecond (any value) with termios2 and
// BOTHER, leaving the rest of the line setting as it is. false when the driver refuses.
bool SetCustomLineSpeed(int fd, uint32_t bitsPerSecond);

// The terminal's current output speed in bit/s, table speeds and others alike. false when the
// setting cannot be read.
bool GetLineSpeed(int fd, uint32_t& bitsPerSecond);

}  // namespace vanta::detail
