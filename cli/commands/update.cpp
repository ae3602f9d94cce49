// update: the Update button's flow, or --firmware-only the newest firmware image alone.
#include "cli/commands/command.h"
#include "platform/files.h"
#include "update/firmware.h"

namespace vanta::cli {
namespace {

constexpr uint32_t kNoDifference = 0xFFFFFFFF;

struct UpdateFacts : CommandFacts {
  // Firmware sectors that --fast --verify erased and wrote again after their read-back differed.
  uint32_t rewrittenSectors = 0;
  uint32_t firstDifference = kNoDifference;
};

class Update : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_flag("--firmware-only", firmwareOnly_,
                     "program just the newest firmware image, whatever the probe reports");
    command.add_flag("--fast", fast_, "merge contiguous records into writes of up to 1024 bytes");
    command.add_flag("--verify", verify_, "read the firmware back and compare it");
    command.add_flag("--no-skip-erased", noSkipErased_,
                     "with --fast, write runs of 0xFF too instead of leaving them to the erase");
  }

  // Nothing to program: refused before the probe is touched.
  bool BeforeConnect(ProbeSession& session) const override {
    if (!firmwareOnly_ || session.Controller().Fields().newestFirmwareVersion != 0) return true;
    const std::string missing = std::string("no firmware image ") + kFirmwareBase + ".nnn in " +
                                DirectoriesText(session.Settings().imageDirs);
    Fail(session.Result(), FlowOutcome::Failed(FlowStage::FirmwareFile, LDR_E_FIRMWARE_FILE),
         missing);
    session.View().ShowMessage(missing, "", MessageIcon::Exclamation, MessageButtons::Ok);
    return false;
  }

  void Run(ProbeSession& session) const override {
    UpdateFacts& facts = session.Result().Own<UpdateFacts>();
    FirmwareOptions options;
    options.imageDirs = session.Settings().imageDirs;
    options.mergeRecords = fast_;
    options.skipErasedRuns = !noSkipErased_;
    options.verifyReadBack = verify_;
    if (firmwareOnly_) {
      FirmwareOnly(session, options);
      return;
    }
    DialogController& controller = session.Controller();
    controller.Firmware() = options;
    const FlowOutcome outcome = controller.OnUpdate();
    Keep(controller.LastFirmwareRun(), facts);
    if (!outcome.passed) {
      Fail(session.Result(), outcome, UpdateDetail(session, outcome, facts));
    }
    session.After(outcome.passed);
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    const UpdateFacts* f = r.Find<UpdateFacts>();
    if (f != nullptr && f->rewrittenSectors > 0) j["rewrittenSectors"] = f->rewrittenSectors;
  }

 private:
  void FirmwareOnly(ProbeSession& session, const FirmwareOptions& options) const {
    DialogController& controller = session.Controller();
    const ImageVersion version = controller.Fields().newestFirmwareVersion;
    ProgressDisplay progress;
    progress.sink = &session.Progress();
    FirmwareResult run;
    {
      WaitCursor wait(session.View());
      run = ProgramFirmware(
          session.Link(), version, [&session](const std::string& text) { session.Status(text); },
          progress, options);
    }
    Keep(run, session.Result().Own<UpdateFacts>());
    const FlowOutcome& outcome = run.outcome;
    if (!outcome.passed) {
      session.View().ShowMessage("Firmware update failed!", "", MessageIcon::Exclamation,
                                 MessageButtons::Ok);
      Fail(session.Result(), outcome,
           FirmwareDetail(session, outcome, version, *session.Result().Find<UpdateFacts>()));
      session.After(false);
      return;
    }
    // The versions the probe reports now, through the Current flow.
    const FlowOutcome current = controller.OnCurrent();
    if (!current.passed) Fail(session.Result(), current);
    session.Result().after = controller.Fields().identity;
    session.Result().haveAfter = true;
  }

  static void Keep(const FirmwareResult& run, UpdateFacts& facts) {
    facts.rewrittenSectors = run.rewrittenSectors;
    if (run.differs) facts.firstDifference = run.firstDifference;
  }

  // Where an update failed on an image file or a transfer: the file and line, or the address.
  static std::string UpdateDetail(ProbeSession& session, const FlowOutcome& outcome,
                                  const UpdateFacts& facts) {
    const DialogFields& fields = session.Controller().Fields();
    if (outcome.stage == FlowStage::LogicFile) {
      return ImageFileDetail(session, LogicImageBase(fields.identity.serialNumber),
                             fields.newestLogicVersion, "logic image", "bad fuse row ending",
                             outcome.problem);
    }
    return FirmwareDetail(session, outcome, fields.newestFirmwareVersion, facts);
  }

  // Where a firmware run failed on its file or its transfers: the line or the address.
  static std::string FirmwareDetail(ProbeSession& session, const FlowOutcome& outcome,
                                    ImageVersion version, const UpdateFacts& facts) {
    if (outcome.stage == FlowStage::FirmwareVerify && outcome.code == LDR_E_VERIFY &&
        facts.firstDifference != kNoDifference) {
      return "Read back differs at " + Hex32(facts.firstDifference);
    }
    if (outcome.hasAddress) {
      return (outcome.stage == FlowStage::FirmwareWrite ? "could not write " : "could not read ") +
             Hex32(outcome.address);
    }
    if (outcome.stage != FlowStage::FirmwareFile) return "";
    return ImageFileDetail(session, kFirmwareBase, version, "firmware image", "bad record",
                           outcome.problem);
  }

  // The file the flow read and what its parser found wrong there (the flow's own result, so the
  // file is not read a second time), or that no directory holds it.
  static std::string ImageFileDetail(ProbeSession& session, const char* base, ImageVersion version,
                                     const char* kind, const char* bad,
                                     const ParseProblem& problem) {
    const ImageDirectories& dirs = session.Settings().imageDirs;
    const std::string path = FindImagePath(base, version, dirs);
    if (path.empty()) {
      return std::string("no ") + kind + " " + base + "." +
             (version == 0 ? std::string("nnn") : VersionDigits(version)) + " in " +
             DirectoriesText(dirs);
    }
    if (problem.line == 0) return path + ": expected " + problem.expected;
    return path + ": " + bad + " on line " + std::to_string(problem.line) + " (expected " +
           problem.expected + ")";
  }

  bool firmwareOnly_ = false, fast_ = false, verify_ = false, noSkipErased_ = false;
};

}  // namespace

const HelpPage kUpdatePage = {
    "update", "bring firmware and logic to the newest images",
    "vantalink-cli update [--firmware-only] [--fast] [--verify] "
    "[--no-skip-erased] [GLOBAL OPTIONS]",
    "Does what the Update button does: writes the newest firmware image when its version "
    "differs from the probe's (an older image is written as well), then loads the newest logic "
    "image when its version differs (PP4JEDK1 for a serial number of 10 characters ending in C, "
    "else PP4JEDK0), verifies the logic, and reads the versions again. Images are looked up "
    "beside the program, in ~/.local/share/Norvane/vantaLink/images ($XDG_DATA_HOME/Norvane/"
    "vantaLink/images) and in /usr/share/vantalink/images; the newest version across them "
    "counts. --image-dir DIR looks in DIR alone.\n\n"
    "--firmware-only programs just the newest VT7PP4FW image, whatever the probe reports. "
    "--fast merges records with contiguous addresses into writes of up to 1024 bytes, which "
    "shrink on a noisy line; a piece that fails is sent again, up to eight times, before the "
    "update fails naming its address. The flash holds the same bytes afterwards. Runs of 0xFF "
    "in the image are not sent, since the erase left them; --no-skip-erased writes them as well. "
    "--verify reads the firmware back after it is written and fails, naming the first differing "
    "address, when it differs; with --fast as well, a firmware sector that reads back different "
    "is mended before the update fails: extra one bits are programmed again, otherwise the "
    "sector is erased and written again, up to three times and none begun after five minutes "
    "of read-back (rewrittenSectors in --json). "
    "With --fast or --verify a logic row read that fails its three "
    "attempts is read again, up to eight times. The window and the default command line write "
    "record by record without reading back.",
    "vantalink-cli update --port COM1 --speed 115200\n"
    "vantalink-cli update --firmware-only --fast --verify --image-dir ./images --port COM1\n"
    "# a tray of four probes at once, results as JSON\n"
    "vantalink-cli update --ports COM1,COM2,COM3,COM4 --speed 115200 --json\n"
    "# a bench: every probe plugged in from now on, until Ctrl-C\n"
    "vantalink-cli update --watch --speed 115200 --log bench.jsonl"};

std::unique_ptr<CliCommand> MakeUpdate() {
  return std::make_unique<Update>();
}

}  // namespace vanta::cli
