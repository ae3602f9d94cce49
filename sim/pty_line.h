#pragma once
// The probe's end of a pseudo-terminal: the master side, raw and non-blocking, and the line
// speed that the tool has set on the slave side.
#include <cstdint>
#include <string>

namespace vanta::sim {

struct PtyEnds {
  int master = -1;
  int slave = -1;         // held open so the line outlives the tool's opens and closes
  std::string slavePath;  // "/dev/pts/N"
};

// Opens a pty, makes the master non-blocking and the slave raw 8N1 at speed. false on failure
// (nothing left open).
bool OpenPty(uint32_t speed, PtyEnds& ends);
void ClosePty(PtyEnds& ends);

// Receive and transmit speeds in bit/s of the slave's current settings, read through the master
// (exact also for speeds outside the termios table). false when the settings cannot be read.
bool SlaveLineSpeeds(int masterFd, uint32_t& receiveSpeed, uint32_t& transmitSpeed);

}  // namespace vanta::sim
