// termios2 lives in the kernel's own headers, which must not meet glibc's <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/serial_port_p.h"

namespace vanta::detail {

bool SetCustomLineSpeed(int fd, uint32_t bitsPerSecond) {
  struct termios2 setting {};
  if (ioctl(fd, TCGETS2, &setting) != 0) return false;
  // Input speed bits 0 make the input follow the output speed.
  setting.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  setting.c_cflag |= BOTHER;
  setting.c_ospeed = bitsPerSecond;
  setting.c_ispeed = bitsPerSecond;
  return ioctl(fd, TCSETS2, &setting) == 0;
}

bool GetLineSpeed(int fd, uint32_t& bitsPerSecond) {
  struct termios2 setting {};
  if (ioctl(fd, TCGETS2, &setting) != 0) return false;
  bitsPerSecond = setting.c_ospeed;
  return true;
}

}  // namespace vanta::detail
