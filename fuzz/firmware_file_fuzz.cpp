// A whole firmware image file through ProgramFirmware's read-and-check pass. The link is never
// opened, so a file that passes the check ends at the first erase without reaching any probe.
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/link_session.h"
#include "update/firmware.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteScratchFile("VT7PP4FW.001", data, size);
  static ProbeLink closedLink;
  ProgressDisplay progress;
  std::string lastStatus;
  FirmwareOptions options;
  options.imageDirs = {fuzz::ScratchDirectory() + "/"};
  const ResultCode result = ProgramFirmware(
      closedLink, 1, [&lastStatus](const std::string& text) { lastStatus = text; }, progress,
      options);
  FUZZ_CHECK(result == LDR_E_FIRMWARE_FILE || result == SESSION_E_CLOSED);
  FUZZ_CHECK(!closedLink.IsOpen());
  return 0;
}
