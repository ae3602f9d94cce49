#include "cli/exit_status.h"

namespace vanta::cli {

ExitStatus ClassifyMessage(const std::string& text) {
  struct Row {
    const char* text;
    ExitStatus status;
  };
  static const Row kRows[] = {
      {"Invalid IP address!", EXIT_USAGE},
      {"Please enter no more than", EXIT_USAGE},
      {"Cannot connect to Vanta loader!", EXIT_CONNECT},
      {"There is no Vanta7 connected!", EXIT_CONNECT},
      {"Communication with Vanta failed!", EXIT_COMM},
      {"Logic: Unknown ispLSI device type!", EXIT_COMM},
      {"Logic: Cannot open JEDEC file!", EXIT_IMAGE},
      {"Logic: Illegal JEDEC file format!", EXIT_IMAGE},
      {"Illegal JEDEC file format!", EXIT_IMAGE},
      {"Logic: Fuse map programmed verification failed!", EXIT_VERIFY},
      {"Logic: Fuse map erased verification failed!", EXIT_VERIFY},
      {"Logic: UES verify failed!", EXIT_VERIFY},
  };
  for (const Row& row : kRows) {
    if (text.rfind(row.text, 0) == 0) return row.status;
  }
  return EXIT_OK;
}

ExitStatus ClassifyResult(ResultCode code) {
  switch (code) {
    case RESULT_OK:
      return EXIT_OK;
    case LINK_E_PORT:
    case SESSION_E_SPEED:
    case LDR_E_NOT_IN_LOADER:
      return EXIT_CONNECT;
    case LDR_E_FIRMWARE_FILE:
      return EXIT_IMAGE;
    case LDR_E_VERIFY:
      return EXIT_VERIFY;
    case SETUP_E_CONFIG_FILE:
    case SETUP_E_REG_FILE:
      return EXIT_SETUP_FILE;
    default:
      return EXIT_COMM;
  }
}

const char* ExitStatusName(ExitStatus status) {
  switch (status) {
    case EXIT_OK:
      return "success (every probe)";
    case EXIT_OTHER:
      return "other failure";
    case EXIT_USAGE:
      return "usage: bad option or argument, or an entry the window refuses too";
    case EXIT_CONNECT:
      return "cannot open the port or connect to the loader";
    case EXIT_COMM:
      return "communication with the probe failed";
    case EXIT_IMAGE:
      return "image file missing, unreadable or malformed";
    case EXIT_VERIFY:
      return "verification failed (read back differs)";
    case EXIT_SETUP_FILE:
      return "configuration or register file cannot be used";
    case EXIT_DECLINED:
      return "erase not confirmed";
  }
  return "";
}

}  // namespace vanta::cli
