#pragma once
// The probe's network setup: a 104-byte block at SETUP_SECTOR, and with an all-ones host the
// stand-alone configuration at CONFIG_SECTOR and REGISTER_IMAGE_AREA.
#include <array>
#include <cstdint>
#include <string>

#include "link/link_session.h"
#include "link/result_codes.h"
#include "setup/config_image.h"

namespace vanta {

inline constexpr size_t kSetupBlockSize = 104;
using SetupBlock = std::array<uint8_t, kSetupBlockSize>;

// The network setup's five texts as the dialog's edit fields hold them, unchecked.
struct SetupTexts {
  std::string probeIpText, subnetMaskText, gatewayText, configHostText, configFileText;
};

// Builds the block: MAC prefix 0A 4F 19, serial characters 1..6 packed two a byte, FF FF, the four
// addresses big-endian, the file name cut to 79 characters and 0x00, the rest 0x00. A serial
// number shorter than six characters is SETUP_E_SERIAL.
ResultCode BuildSetupBlock(const std::string& serialNumber, const SetupTexts& texts,
                           SetupBlock& block);

// What a successful TransmitSetup wrote, for summaries.
struct TransmitReport {
  bool standAlone = false;   // the host was all ones
  uint32_t configBytes = 0;  // configuration file length
  uint32_t registerImageBytes = 0;
  // SETUP_E_CONFIG_FILE, SETUP_E_REG_FILE: which failure it was and the file it concerned.
  ConfigProblem problem;
};

// Reads the identity, builds the block, loads the configuration and register files when the host
// is all ones, and only then erases SETUP_SECTOR and CONFIG_SECTOR, programs, reads back and
// compares the block (LDR_E_VERIFY), and writes the stand-alone configuration.
ResultCode TransmitSetup(ProbeLink& link, const SetupTexts& texts,
                         TransmitReport* report = nullptr);

}  // namespace vanta
