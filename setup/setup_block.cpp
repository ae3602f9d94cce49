#include "setup/setup_block.h"

#include <algorithm>

#include "link/loader.h"
#include "link/packing.h"
#include "setup/config_image.h"
#include "setup/dotted_quad.h"

namespace vanta {

namespace {

constexpr uint8_t kMacPrefix[3] = {0x0A, 0x4F, 0x19};
constexpr size_t kSerialCharsUsed = 6;
constexpr size_t kMaxNameInBlock = 79;

// Two serial-number characters as one MAC byte: packed BCD for digits, the same arithmetic
// (modulo 256, unchecked) for anything else, so the block matches the MAC text the dialog shows.
uint8_t PackSerialPair(char high, char low) {
  const unsigned hi = static_cast<uint8_t>(high) - 0x30u;
  const unsigned lo = static_cast<uint8_t>(low) - 0x30u;
  return static_cast<uint8_t>(16u * hi + lo);
}

}  // namespace

ResultCode BuildSetupBlock(const std::string& serialNumber, const SetupTexts& texts,
                           SetupBlock& block) {
  // Five characters would leave the last MAC nibble to chance; refuse before anything is sent.
  if (serialNumber.size() < kSerialCharsUsed) return SETUP_E_SERIAL;
  block.fill(0x00);
  uint8_t* at = block.data();
  for (uint8_t prefixByte : kMacPrefix) at = PutU8(at, prefixByte);
  for (size_t k = 0; k < 3; ++k) {
    at = PutU8(at, PackSerialPair(serialNumber[2 * k], serialNumber[2 * k + 1]));
  }
  at = PutU8(at, 0xFF);
  at = PutU8(at, 0xFF);
  at = PutU32(at, ParseDottedQuad(texts.probeIpText));
  at = PutU32(at, ParseDottedQuad(texts.subnetMaskText));
  at = PutU32(at, ParseDottedQuad(texts.gatewayText));
  at = PutU32(at, ParseDottedQuad(texts.configHostText));
  const size_t nameLength = std::min(texts.configFileText.size(), kMaxNameInBlock);
  at = std::copy_n(reinterpret_cast<const uint8_t*>(texts.configFileText.data()), nameLength, at);
  PutU8(at, 0x00);
  return RESULT_OK;
}

ResultCode TransmitSetup(ProbeLink& link, const SetupTexts& texts, TransmitReport* report) {
  TransmitReport local;
  TransmitReport& out = report != nullptr ? *report : local;
  out = TransmitReport{};

  // Only the serial number matters here; the dialog's own identity stays untouched.
  DeviceIdentity identity;
  ResultCode result = ReadIdentity(link, identity);
  if (result != RESULT_OK) return result;

  SetupBlock block;
  result = BuildSetupBlock(identity.serialNumber, texts, block);
  if (result != RESULT_OK) return result;

  // The configuration and register files are read before the first erase, so a missing or
  // oversized file cannot wipe the configuration the probe holds now.
  out.standAlone = ParseDottedQuad(texts.configHostText) == kInvalidAddress;
  ConfigImage configImage;
  if (out.standAlone) {
    result = LoadConfigImage(texts.configFileText, configImage, &out.problem);
    if (result != RESULT_OK) return result;
  }

  result = EraseSector(link, SETUP_SECTOR);
  if (result != RESULT_OK) return result;
  // Also without a stand-alone configuration: an older one must not outlive a new host address.
  result = EraseSector(link, CONFIG_SECTOR);
  if (result != RESULT_OK) return result;

  uint32_t replyValue = 0;
  result = ProgramMemory(link, SETUP_SECTOR, kSetupBlockSize, block.data(), replyValue);
  if (result != RESULT_OK) return result;
  SetupBlock readBack;
  result = ReadMemory(link, SETUP_SECTOR, kSetupBlockSize, readBack.data());
  if (result != RESULT_OK) return result;
  if (readBack != block) return LDR_E_VERIFY;

  if (!out.standAlone) return RESULT_OK;
  result = WriteConfigImage(link, configImage);
  if (result != RESULT_OK) return result;
  out.configBytes = static_cast<uint32_t>(configImage.configLength);
  out.registerImageBytes = static_cast<uint32_t>(configImage.imageLength);
  return RESULT_OK;
}

}  // namespace vanta
