// backup: the probe's flash, or --range of it, into an S-record file.
#include <ctime>

#include "cli/commands/command.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "update/flash_backup.h"

namespace vanta::cli {
namespace {

struct BackupFacts : CommandFacts {};

// The S0 text names the probe and the time, so a file says whose flash it holds.
std::string BackupHeader(const DeviceIdentity& identity) {
  char time[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  UtcTime(now, utc);
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return "vantaLink backup serial " + identity.serialNumber + " loader " +
         VersionText(identity.loaderVersion) + " " + time;
}

// ADDR:LEN, both decimal or 0x hex, the range non-empty and inside the flash.
CLI::Validator RangeText() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const size_t colon = text.find(':');
        uint64_t address = 0, length = 0;
        if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), address) ||
            !ParseNumber(text.substr(colon + 1), length) || address > 0xFFFFFFFFull ||
            length > 0xFFFFFFFFull) {
          return "takes ADDR:LEN, e.g. 0x01008000:104";
        }
        if (length == 0) return "LEN must be at least 1 byte";
        if (!RangeInsideFlash({static_cast<uint32_t>(address), static_cast<uint32_t>(length)})) {
          return "must lie inside the flash, 0x01000000 to 0x010FFFFF";
        }
        return "";
      },
      "", "");
}

class Backup : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("FILE", file_, "the S-record file to write")->required();
    command
        .add_option("--range", rangeText_,
                    "just LEN bytes from ADDR (decimal or 0x hex) instead of every sector "
                    "but the loader's")
        ->option_text("ADDR:LEN")
        ->check(RangeText());
  }

  // The file is written only after the whole flash was read, which takes many minutes at a low
  // speed: a directory that does not exist or takes no files is refused first.
  Failure Check(const CheckContext& context) override {
    if (context.namedTargets > 1) return UsageFailure("backup serves one probe at a time");
    if (!rangeText_.empty()) {
      const size_t colon = rangeText_.find(':');
      uint64_t address = 0, length = 0;
      ParseNumber(rangeText_.substr(0, colon), address);
      ParseNumber(rangeText_.substr(colon + 1), length);
      range_ = {static_cast<uint32_t>(address), static_cast<uint32_t>(length)};
    }
    std::string error;
    if (!CanCreateFileBeside(file_, error)) {
      Failure failure;
      failure.outcome = FlowOutcome::Failed(FlowStage::BackupFile, UPDATE_E_BACKUP_FILE);
      failure.message = "backup refused, nothing read";
      failure.detail = error;
      return failure;
    }
    return Failure::None();
  }

  void Run(ProbeSession& session) const override {
    session.Result().Own<BackupFacts>();
    ProgressDisplay progress;
    progress.sink = &session.Progress();
    std::string fileError;
    FlowOutcome outcome;
    {
      WaitCursor wait(session.View());
      outcome = BackupFlash(
          session.Link(), range_, BackupHeader(session.Controller().Fields().identity), file_,
          [&session](const std::string& text) { session.Status(text); }, progress, &fileError);
    }
    if (!outcome.passed) {
      session.FailAndShow(outcome,
                          outcome.stage == FlowStage::BackupFile
                              ? fileError
                              : "reading the flash broke off; " + file_ + " was not written");
    }
    session.After(outcome.passed);
  }

  std::string Text(const ProbeResult& r, bool) const override {
    if (r.status != EXIT_OK || r.Find<BackupFacts>() == nullptr) return "";
    return r.label + " (" + r.before.serialNumber + "): " + std::to_string(range_.length) +
           " bytes from " + Hex32(range_.address) + " written to " + file_ + "\n";
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    if (r.Find<BackupFacts>() == nullptr) return;
    j["file"] = file_;
    j["address"] = Hex32(range_.address);
    j["length"] = range_.length;
  }

 private:
  std::string file_, rangeText_;
  FlashRange range_;
};

}  // namespace

const HelpPage kBackupPage = {
    "backup", "read the probe's flash into an S-record file",
    "vantalink-cli backup FILE [--range ADDR:LEN] [GLOBAL OPTIONS]",
    "Connects and reads the probe's flash, every sector but the loader's (0x01008000 to "
    "0x010FFFFF), or the --range given, and writes it to FILE as Motorola S-records: an S0 "
    "header naming the probe's serial number, loader version and the time, S3 records of 32 "
    "bytes, and an S7 end record (restore refuses a file without it, and restores a backup only "
    "onto "
    "the probe its S0 header names unless given --other-probe). FILE is written under a temporary "
    "name and renamed only when "
    "complete; a failed backup leaves no FILE behind (and an older FILE as it was).",
    "vantalink-cli backup probe-12345678.s19 --port COM1\n"
    "# just the setup block\n"
    "vantalink-cli backup setup.s19 --range 0x01008000:104 --port COM1"};

std::unique_ptr<CliCommand> MakeBackup() {
  return std::make_unique<Backup>();
}

}  // namespace vanta::cli
