#pragma once
// Why a Windows COM port would not open, from the Win32 error code the system gave. Kept apart
// from the port itself (and built everywhere) so the mapping is checked with the codes alone:
// Wine cannot show every refusal (a port held by another program opens there).
#include <cstdint>

#include "platform/serial_port.h"

namespace vanta {

// CreateFileA's error (opened false), or the error of a set-up call made on a handle that opened
// (SetupComm, GetCommProperties, GetCommState: opened true). ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND are no such port; ERROR_ACCESS_DENIED is how Windows refuses a COM port
// open in another program, so it is busy, as is a sharing violation; a handle without
// communications functions is no serial device; anything else is Other with the system's text.
OpenFault OpenFaultOfWin32Error(uint32_t error, bool opened);

}  // namespace vanta
