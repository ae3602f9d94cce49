// restore: an S-record backup programmed back into the probe's flash, the whole file checked
// before any probe is touched.
#include "cli/commands/command.h"
#include "update/flash_backup.h"

namespace vanta::cli {
namespace {

struct RestoreFacts : CommandFacts {
  std::vector<uint32_t> sectors;     // erased and written, ascending
  bool setupKept = false;            // --keep-setup left the file's setup block out
  std::vector<uint32_t> leftErased;  // after a failure: sectors without the file's bytes
};

nlohmann::json SectorList(const std::vector<uint32_t>& sectors) {
  nlohmann::json list = nlohmann::json::array();
  for (uint32_t sector : sectors) list.push_back(Hex32(sector));
  return list;
}

class Restore : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("FILE", file_, "the S-record file to program")->required();
    command.add_flag("--other-probe", otherProbe_,
                     "restore a backup that names another probe's serial number, or none");
    command.add_flag("--keep-setup", keepSetup_,
                     "keep this probe's own setup block (MAC and IP addresses) at 0x01008000");
  }

  // A bad file erases nothing: it is read and checked as a whole first.
  Failure Check(const CheckContext& context) override {
    if (context.namedTargets > 1)
      return UsageFailure("backup and restore serve one probe at a time");
    auto contents = std::make_shared<FlashContents>();
    BackupFileProblem problem;
    if (!ReadBackupFile(file_, *contents, problem)) {
      Failure failure;
      failure.outcome = FlowOutcome::Failed(FlowStage::RestoreFile);
      failure.message = "restore refused, nothing erased";
      const std::string where =
          problem.line > 0 ? file_ + " line " + std::to_string(problem.line) + ": " : "";
      failure.detail = where + problem.what;
      if (problem.line > 0) failure.extra["line"] = problem.line;
      return failure;
    }
    contents_ = std::move(contents);
    return Failure::None();
  }

  void Run(ProbeSession& session) const override {
    RestoreFacts& facts = session.Result().Own<RestoreFacts>();
    const FlashContents& contents = *contents_;
    const RestoreOptions options{session.Controller().Fields().identity.serialNumber, otherProbe_,
                                 keepSetup_};
    ProgressDisplay progress;
    progress.sink = &session.Progress();
    RestoreResult restored;
    {
      WaitCursor wait(session.View());
      restored = RestoreFlash(
          session.Link(), contents, options,
          [&session](const std::string& text) { session.Status(text); }, progress);
    }
    facts.sectors = restored.sectors;
    facts.setupKept = restored.setupKept;
    facts.leftErased = restored.leftErased;
    if (!restored.outcome.passed) {
      std::string detail = RestoreFailureText(restored, contents, options, file_);
      if (restored.outcome.stage == FlowStage::OtherProbe) {
        detail +=
            "; --other-probe restores it anyway, --keep-setup with it keeps this probe's "
            "own setup block";
      }
      session.FailAndShow(restored.outcome, detail);
    }
    // What the probe holds now: a restored firmware or setup shows in the versions.
    ProbeResult& result = session.Result();
    result.after = session.Controller().Fields().identity;
    result.haveAfter = true;
    DeviceIdentity now;
    if (session.Link().IsOpen() && ReadIdentity(session.Link(), now) == RESULT_OK) {
      result.after = now;
    }
  }

  std::string Text(const ProbeResult& r, bool) const override {
    const RestoreFacts* f = r.Find<RestoreFacts>();
    if (r.status != EXIT_OK || f == nullptr) return "";
    std::string sectors;
    for (uint32_t sector : f->sectors) sectors += (sectors.empty() ? "" : ", ") + Hex32(sector);
    return r.label + " (" + r.before.serialNumber + "): " + file_ +
           " programmed and read back; sectors erased: " + sectors +
           (f->setupKept ? "; the probe's own setup block at " + Hex32(SETUP_SECTOR) + " kept"
                         : "") +
           "\n";
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    const RestoreFacts* f = r.Find<RestoreFacts>();
    if (f == nullptr) return;
    j["file"] = file_;
    j["sectors"] = SectorList(f->sectors);
    if (f->setupKept) j["setupKept"] = Hex32(SETUP_SECTOR);
    if (!f->leftErased.empty()) j["leftErased"] = SectorList(f->leftErased);
  }

 private:
  std::string file_;
  bool otherProbe_ = false, keepSetup_ = false;
  std::shared_ptr<const FlashContents> contents_;
};

}  // namespace

const HelpPage kRestorePage = {
    "restore", "program an S-record backup back into the probe's flash",
    "vantalink-cli restore FILE [--other-probe] [--keep-setup] [GLOBAL OPTIONS]",
    "Checks the whole FILE before the probe is touched: every line a well-formed S-record with "
    "a correct checksum, every address inside the flash and outside the loader's sector "
    "(0x01000000 to 0x01007FFF), no byte given twice with different values, and an S7 end "
    "record last (a file cut short is refused). A file that fails the check is refused, naming "
    "the line, and nothing is erased (exit status 5). A backup is restored only onto the probe "
    "whose serial number its S0 header names; another probe's backup, or one naming none, is "
    "refused before anything is erased (exit status 2) unless --other-probe is given. "
    "--keep-setup leaves this probe's own setup block (0x01008000, its MAC and IP addresses) "
    "as it is: that sector is neither erased nor written. Then it erases only the sectors the file "
    "touches (what "
    "a sector holds outside the file, as after a --range backup, is read first and kept), "
    "writes the file's bytes, writes the firmware validity marker (the first four bytes at "
    "0x01040000) last when the firmware sector is among them, and reads every touched sector "
    "back (exit status 6 when it differs). A restore that fails after erasing names the sectors "
    "it left without the file's bytes; restoring the file again mends them. backup, erase and "
    "restore give the same flash byte for byte.",
    "vantalink-cli restore probe-12345678.s19 --port COM1\n"
    "# another probe's backup, keeping this probe's own addresses\n"
    "vantalink-cli restore probe-12345678.s19 --other-probe --keep-setup --port COM1"};

std::unique_ptr<CliCommand> MakeRestore() {
  return std::make_unique<Restore>();
}

}  // namespace vanta::cli
