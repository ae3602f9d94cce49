#include "link/result_codes.h"

#include <cstdio>

namespace vanta {

const char* ResultName(ResultCode code) {
  switch (code) {
    case RESULT_OK: return "OK";
    case LINK_E_PORT: return "LINK_E_PORT";
    case LINK_E_TIMEOUT: return "LINK_E_TIMEOUT";
    case LINK_E_COMM: return "LINK_E_COMM";
    case LINK_E_FRAME: return "LINK_E_FRAME";
    case LINK_E_CHECKSUM: return "LINK_E_CHECKSUM";
    case LINK_E_OVERFLOW: return "LINK_E_OVERFLOW";
    case LINK_E_WRITE: return "LINK_E_WRITE";
    case SESSION_E_NO_REPLY: return "SESSION_E_NO_REPLY";
    case SESSION_E_TOO_LONG: return "SESSION_E_TOO_LONG";
    case SESSION_E_CLOSED: return "SESSION_E_CLOSED";
    case SESSION_E_REPLY_TOO_LONG: return "SESSION_E_REPLY_TOO_LONG";
    case SESSION_E_SPEED: return "SESSION_E_SPEED";
    case LDR_E_FIRMWARE_FILE: return "LDR_E_FIRMWARE_FILE";
    case LDR_E_NOT_IN_LOADER: return "LDR_E_NOT_IN_LOADER";
    case LDR_E_BAD_REPLY: return "LDR_E_BAD_REPLY";
    case LDR_E_ERASE: return "LDR_E_ERASE";
    case LDR_E_PROGRAM: return "LDR_E_PROGRAM";
    case LDR_E_VERIFY: return "LDR_E_VERIFY";
    case SETUP_E_CONFIG_FILE: return "SETUP_E_CONFIG_FILE";
    case SETUP_E_REG_FILE: return "SETUP_E_REG_FILE";
    case SETUP_E_SERIAL: return "SETUP_E_SERIAL";
    case UPDATE_E_BACKUP_FILE: return "UPDATE_E_BACKUP_FILE";
    default: break;
  }
  // Unknown codes are rare (a probe model we do not know); a per-thread buffer keeps this reentrant.
  thread_local char text[32];
  std::snprintf(text, sizeof text, "UNKNOWN(%d)", static_cast<int>(code));
  return text;
}

}  // namespace vanta
