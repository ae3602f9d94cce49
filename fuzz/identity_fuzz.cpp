// LDR_IDENTIFY replies of any length and content.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/loader.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxPayload) return 0;
  // Exactly the reply's bytes, so reading past them is reported.
  const std::vector<uint8_t> reply(data, data + size);
  DeviceIdentity identity;
  identity.loaderVersion = 7;
  identity.serialNumber = "EARLIER1";
  const ResultCode result = DecodeIdentityReply(reply.data(), static_cast<int32_t>(size), identity);
  FUZZ_CHECK(result == RESULT_OK || result == LDR_E_BAD_REPLY);
  if (size != 15 && size != 17) {
    FUZZ_CHECK(result == RESULT_OK);
    FUZZ_CHECK(identity.loaderVersion == 0 && identity.firmwareVersion == 0 &&
               identity.logicVersion == 0);
    FUZZ_CHECK(identity.serialNumber == "EARLIER1");
  } else if (result == RESULT_OK) {
    FUZZ_CHECK(identity.serialNumber.size() == (size == 17 ? 10u : 8u));
    FUZZ_CHECK(identity.firmwareVersion <= 255);
    FUZZ_CHECK(identity.logicVersion <= 999);
  } else {
    FUZZ_CHECK(identity.loaderVersion == 7 && identity.serialNumber == "EARLIER1");
  }
  return 0;
}
