// Kept apart from pty_line.cpp: <asm/termbits.h> (termios2) clashes with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace vanta::sim {

bool SlaveLineSpeeds(int masterFd, uint32_t& receiveSpeed, uint32_t& transmitSpeed) {
  // On a pty master the terminal ioctls reach the slave's settings.
  termios2 tio{};
  if (ioctl(masterFd, TCGETS2, &tio) != 0) return false;
  transmitSpeed = tio.c_ospeed;
  receiveSpeed = tio.c_ispeed != 0 ? tio.c_ispeed : tio.c_ospeed;
  return true;
}

}  // namespace vanta::sim
