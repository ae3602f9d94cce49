#include "sim/pty_line.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vanta::sim {

bool OpenPty(uint32_t speed, PtyEnds& ends) {
  int master = -1;
  int slave = -1;
  char name[128] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  const int flags = fcntl(master, F_GETFL);
  termios tio{};
  bool ok =
      flags >= 0 && fcntl(master, F_SETFL, flags | O_NONBLOCK) == 0 && tcgetattr(slave, &tio) == 0;
  if (ok) {
    // Raw from the start, so nothing the model sends is cooked or echoed before the tool has
    // set the line up itself.
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t code = B9600;
    switch (speed) {
      case 19200:
        code = B19200;
        break;
      case 38400:
        code = B38400;
        break;
      case 57600:
        code = B57600;
        break;
      case 115200:
        code = B115200;
        break;
      default:
        break;
    }
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
    ok = tcsetattr(slave, TCSANOW, &tio) == 0;
  }
  if (!ok) {
    close(master);
    close(slave);
    return false;
  }
  ends.master = master;
  ends.slave = slave;
  ends.slavePath = name;
  return true;
}

void ClosePty(PtyEnds& ends) {
  if (ends.master >= 0) close(ends.master);
  if (ends.slave >= 0) close(ends.slave);
  ends.master = -1;
  ends.slave = -1;
}

}  // namespace vanta::sim
