// restore: an S-record backup programmed back into the probe's flash, the whole file checked
// before any probe is touched.
#include "cli/commands/command.h"
#include "update/flash_backup.h"

namespace vanta::cli {
namespace {

struct RestoreFacts : CommandFacts {};

class Restore : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("FILE", file_, "the S-record file to program")->required();
    // Options that change what a restore may do to the probe's own identity go here, beside
    // what Check compares before anything is erased.
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
    session.Result().Own<RestoreFacts>();
    const FlashContents& contents = *contents_;
    ProgressDisplay progress;
    progress.sink = &session.Progress();
    uint32_t difference = 0;
    TransferFailure failure;
    ResultCode code;
    {
      WaitCursor wait(session.View());
      code = RestoreFlash(
          session.Link(), contents, [&session](const std::string& text) { session.Status(text); },
          progress, &difference, &failure);
    }
    if (code == LDR_E_VERIFY) {
      session.FailAndShow(FlowOutcome::FailedAt(FlowStage::FlashWrite, code, difference),
                          "read back differs at " + Hex32(difference));
    } else if (code != RESULT_OK && failure.code != RESULT_OK) {
      // A piece that gave up after its tries: the address it could not move.
      session.FailAndShow(
          FlowOutcome::FailedAt(FlowStage::FlashWrite, code, failure.address),
          (failure.writing ? "could not write " : "could not read ") + Hex32(failure.address));
    } else if (code != RESULT_OK) {
      session.FailAndShow(
          FlowOutcome::Failed(code == LDR_E_ERASE ? FlowStage::FlashErase : FlowStage::FlashWrite,
                              code),
          "");
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
    if (r.status != EXIT_OK || r.Find<RestoreFacts>() == nullptr) return "";
    std::string sectors;
    for (uint32_t sector : TouchedSectors(*contents_)) {
      sectors += (sectors.empty() ? "" : ", ") + Hex32(sector);
    }
    return r.label + " (" + r.before.serialNumber + "): " + file_ +
           " programmed and read back; sectors erased: " + sectors + "\n";
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    if (r.Find<RestoreFacts>() == nullptr) return;
    nlohmann::json sectors = nlohmann::json::array();
    for (uint32_t sector : TouchedSectors(*contents_)) sectors.push_back(Hex32(sector));
    j["file"] = file_;
    j["sectors"] = sectors;
  }

 private:
  std::string file_;
  std::shared_ptr<const FlashContents> contents_;
};

}  // namespace

const HelpPage kRestorePage = {
    "restore", "program an S-record backup back into the probe's flash",
    "vantalink-cli restore FILE [GLOBAL OPTIONS]",
    "Checks the whole FILE before the probe is touched: every line a well-formed S-record with "
    "a correct checksum, every address inside the flash and outside the loader's sector "
    "(0x01000000 to 0x01007FFF). A file that fails the check is refused, naming the line, and "
    "nothing is erased (exit status 5). Then it erases only the sectors the file touches (what "
    "a sector holds outside the file, as after a --range backup, is read first and kept), "
    "writes the file's bytes, writes the firmware validity marker (the first four bytes at "
    "0x01040000) last when the firmware sector is among them, and reads every touched sector "
    "back (exit status 6 when it differs). backup, erase and restore give the same flash byte "
    "for byte.",
    "vantalink-cli restore probe-12345678.s19 --port COM1"};

std::unique_ptr<CliCommand> MakeRestore() {
  return std::make_unique<Restore>();
}

}  // namespace vanta::cli
