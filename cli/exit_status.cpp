#include "cli/exit_status.h"

namespace vanta::cli {
namespace {

struct StageRow {
  FlowStage stage;
  ExitStatus status;
  const char* sentence;  // when the outcome carries no code
};

const StageRow kStages[] = {
    {FlowStage::None, EXIT_OK, "success"},
    {FlowStage::Form, EXIT_USAGE, "an entry the window refuses as well"},
    {FlowStage::Declined, EXIT_DECLINED, "erase not confirmed; nothing erased"},
    {FlowStage::Connect, EXIT_CONNECT, "no loader answered"},
    {FlowStage::NoProbe, EXIT_CONNECT, "a loader answered, but reported no Vanta7"},
    {FlowStage::IdentityRead, EXIT_COMM, "the identity could not be read"},
    {FlowStage::FirmwareFile, EXIT_IMAGE, "the firmware image cannot be used"},
    {FlowStage::FirmwareErase, EXIT_COMM, "erasing the firmware sectors failed"},
    {FlowStage::FirmwareWrite, EXIT_COMM, "programming the firmware failed"},
    {FlowStage::FirmwareVerify, EXIT_COMM, "reading the firmware back failed"},
    {FlowStage::LogicFile, EXIT_IMAGE, "the JEDEC file is missing or malformed"},
    {FlowStage::LogicAccess, EXIT_COMM, "logic access failed"},
    {FlowStage::LogicDeviceType, EXIT_COMM, "the logic device is of an unknown type"},
    {FlowStage::LogicErase, EXIT_COMM, "erasing the logic failed"},
    {FlowStage::LogicProgram, EXIT_COMM, "programming the logic failed"},
    {FlowStage::LogicVerify, EXIT_COMM, "reading the logic back failed"},
    {FlowStage::FlashErase, EXIT_COMM, "erasing the flash failed"},
    {FlowStage::SetupBlock, EXIT_COMM, "writing the setup failed"},
    {FlowStage::ConfigFile, EXIT_SETUP_FILE, "the configuration file cannot be used"},
    {FlowStage::RegisterFile, EXIT_SETUP_FILE, "a register file cannot be used"},
    {FlowStage::MemoryRead, EXIT_COMM, "reading memory failed"},
    {FlowStage::BackupFile, EXIT_OTHER, "the backup file cannot be written"},
    {FlowStage::RestoreFile, EXIT_IMAGE, "the file to restore is unreadable or malformed"},
    {FlowStage::OtherProbe, EXIT_USAGE, "the backup was made of another probe; nothing erased"},
    {FlowStage::FlashWrite, EXIT_COMM, "programming the flash failed"},
    {FlowStage::ExtractFile, EXIT_OTHER, "a stored file cannot be written out"},
    {FlowStage::Options, EXIT_USAGE, "an option or argument the command refuses"},
    {FlowStage::ProbeSearch, EXIT_USAGE, "no single probe found to serve"},
};

const StageRow& RowOf(FlowStage stage) {
  for (const StageRow& row : kStages) {
    if (row.stage == stage) return row;
  }
  return kStages[0];
}

// What each code of the core means, in words for a user.
const char* CodeSentence(ResultCode code) {
  switch (code) {
    case LINK_E_PORT:
      return "the port cannot be opened or configured, or refused the speed";
    case LINK_E_TIMEOUT:
      return "no byte arrived within the time-out";
    case LINK_E_COMM:
      return "the port can no longer be read";
    case LINK_E_FRAME:
      return "an illegal byte followed DLE inside a frame";
    case LINK_E_CHECKSUM:
      return "a frame's check byte did not match";
    case LINK_E_OVERFLOW:
      return "a frame was longer than the receive buffer";
    case LINK_E_WRITE:
      return "writing to the port failed or was short";
    case SESSION_E_NO_REPLY:
      return "the probe gave no valid reply";
    case SESSION_E_TOO_LONG:
      return "a request was too long for the link";
    case SESSION_E_CLOSED:
      return "the link is not open";
    case SESSION_E_REPLY_TOO_LONG:
      return "a reply was larger than expected";
    case SESSION_E_SPEED:
      return "the port refuses the speed the probe named, or the probe is silent at it";
    case LDR_E_FIRMWARE_FILE:
      return "the firmware image cannot be opened or holds a bad record";
    case LDR_E_NOT_IN_LOADER:
      return "the probe answered from its running firmware, not from its loader";
    case LDR_E_BAD_REPLY:
      return "a reply had a wrong length or a wrong command echo";
    case LDR_E_ERASE:
      return "the probe reports a sector erase failure";
    case LDR_E_PROGRAM:
      return "the probe reports a programming failure";
    case LDR_E_VERIFY:
      return "data read back differs from what was written";
    case SETUP_E_CONFIG_FILE:
      return "the configuration file is missing, unreadable or 64 KiB or more";
    case SETUP_E_REG_FILE:
      return "a register file is missing or unreadable, or the register image reaches 64 KiB";
    case SETUP_E_SERIAL:
      return "the probe's serial number is too short to build its MAC address";
    case UPDATE_E_BACKUP_FILE:
      return "the backup file cannot be written or read";
    default:
      return nullptr;
  }
}

}  // namespace

ExitStatus ExitStatusOf(const FlowOutcome& outcome) {
  if (outcome.passed) return EXIT_OK;
  if (outcome.code == LDR_E_VERIFY) return EXIT_VERIFY;
  const ExitStatus status = RowOf(outcome.stage).status;
  return status == EXIT_OK ? EXIT_OTHER : status;  // a failure is never a success
}

const char* OutcomeSentence(const FlowOutcome& outcome) {
  if (outcome.passed) return "success";
  const char* sentence = outcome.code != RESULT_OK ? CodeSentence(outcome.code) : nullptr;
  return sentence != nullptr ? sentence : RowOf(outcome.stage).sentence;
}

std::string OutcomeLine(const FlowOutcome& outcome, const std::string& detail) {
  if (outcome.passed) return "";
  std::string line = StageName(outcome.stage);
  line += line.empty() ? "" : ": ";
  line += detail.empty() ? OutcomeSentence(outcome) : detail;
  if (outcome.code != RESULT_OK) line += std::string(" (") + ResultName(outcome.code) + ")";
  return line;
}

ExitStatus WorseStatus(ExitStatus a, ExitStatus b) {
  static constexpr ExitStatus kWorstFirst[] = {EXIT_VERIFY,  EXIT_COMM,       EXIT_OTHER,
                                               EXIT_USAGE,   EXIT_SETUP_FILE, EXIT_IMAGE,
                                               EXIT_CONNECT, EXIT_DECLINED};
  for (ExitStatus status : kWorstFirst) {
    if (a == status || b == status) return status;
  }
  return EXIT_OK;
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
