#include "update/flow_outcome.h"

namespace vanta {

const char* StageName(FlowStage stage) {
  switch (stage) {
    case FlowStage::None:
      return "";
    case FlowStage::Form:
      return "form entry";
    case FlowStage::Declined:
      return "erase confirmation";
    case FlowStage::Connect:
      return "connect";
    case FlowStage::NoProbe:
      return "probe identification";
    case FlowStage::IdentityRead:
      return "identity read";
    case FlowStage::FirmwareFile:
      return "firmware file";
    case FlowStage::FirmwareErase:
      return "firmware erase";
    case FlowStage::FirmwareWrite:
      return "firmware write";
    case FlowStage::FirmwareVerify:
      return "firmware verify";
    case FlowStage::LogicFile:
      return "logic file";
    case FlowStage::LogicAccess:
      return "logic access";
    case FlowStage::LogicDeviceType:
      return "logic device type";
    case FlowStage::LogicErase:
      return "logic erase";
    case FlowStage::LogicProgram:
      return "logic program";
    case FlowStage::LogicVerify:
      return "logic verify";
    case FlowStage::FlashErase:
      return "flash erase";
    case FlowStage::SetupBlock:
      return "setup block";
    case FlowStage::ConfigFile:
      return "configuration file";
    case FlowStage::RegisterFile:
      return "register file";
    case FlowStage::MemoryRead:
      return "memory read";
    case FlowStage::BackupFile:
      return "backup file";
    case FlowStage::RestoreFile:
      return "restore file";
    case FlowStage::OtherProbe:
      return "other probe";
    case FlowStage::FlashWrite:
      return "flash write";
    case FlowStage::ExtractFile:
      return "extract";
    case FlowStage::Options:
      return "options";
    case FlowStage::ProbeSearch:
      return "probe search";
  }
  return "";
}

}  // namespace vanta
