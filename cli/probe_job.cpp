#include "cli/probe_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <set>

#include "cli/link_trace.h"
#include "cli/port_hint.h"
#include "dialog/dialog_controller.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/terminal.h"
#include "setup/dotted_quad.h"
#include "setup/setup_block.h"
#include "setup/stored_setup.h"
#include "update/bulk_transfer.h"
#include "update/firmware.h"

namespace vanta::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The controller opens "\\.\COMn" by Port list index; the command line names any device. This
// port opens its own device whatever name the link asks for, and passes everything else on.
class FixedDevicePort : public SerialPort {
 public:
  FixedDevicePort(std::string device, std::unique_ptr<SerialPort> inner)
      : device_(std::move(device)), inner_(std::move(inner)) {}
  PortStatus OpenPort(const std::string&) override { return inner_->OpenPort(device_); }
  const OpenFailure& LastOpenFailure() const override { return inner_->LastOpenFailure(); }
  PortStatus SetPortSpeed(uint32_t bitsPerSecond) override {
    return inner_->SetPortSpeed(bitsPerSecond);
  }
  PortStatus DrainOutput(uint32_t timeoutMs) override { return inner_->DrainOutput(timeoutMs); }
  uint32_t Speed() const override { return inner_->Speed(); }
  void PurgeInput() override { inner_->PurgeInput(); }
  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    return inner_->ReadByte(byte, timeoutMs);
  }
  PortStatus WriteBlock(const uint8_t* data, size_t count) override {
    return inner_->WriteBlock(data, count);
  }
  ModemLines GetModemLines() override { return inner_->GetModemLines(); }
  void ClosePort() override { inner_->ClosePort(); }

 private:
  std::string device_;
  std::unique_ptr<SerialPort> inner_;
};

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Records a failed outcome; status and error follow from it and detail alone.
void Fail(ProbeResult& result, const FlowOutcome& outcome, const std::string& detail = "") {
  if (result.status != EXIT_OK) return;  // the first failure is the one that counts
  result.outcome = outcome;
  result.detail = detail;
  result.status = ExitStatusOf(outcome);
  result.error = OutcomeLine(outcome, detail);
}

class Job {
 public:
  Job(const JobSettings& settings, const ProbeTarget& target, Console& console, int slot)
      : settings_(settings),
        target_(target),
        console_(console),
        slot_(slot),
        view_(console, slot, settings.yesNo),
        trace_(console, target.label) {
    result_.label = target.label;
    result_.device = target.device;
  }

  ProbeResult Run() {
    Clock::time_point start = Clock::now();
    auto link = std::make_unique<ProbeLink>(
        std::make_unique<FixedDevicePort>(target_.device, MakeSerialPort()));
    if (settings_.trace) link->SetObserver(&trace_);
    RunFlows(std::move(link));
    result_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    console_.Status(slot_, result_.status == EXIT_OK ? "done" : "failed: " + result_.error);
    return result_;
  }

 private:
  void RunFlows(std::unique_ptr<ProbeLink> link) {
    DialogController controller(view_, std::move(link), settings_.imageDirs);
    DialogFields& fields = controller.Fields();
    // Start-up fills the persisted fields before the dialog opens; so does the command line.
    fields.portIndex = target_.portIndex;
    fields.speedIndex = settings_.speedIndex;
    controller.SetRequestedSpeed(settings_.speed);
    fields.setup = settings_.setup;
    controller.OnOpen();
    result_.newestFirmware = fields.newestFirmwareVersion;
    result_.newestLogic = fields.newestLogicVersion;

    if (settings_.command == Command::Update && settings_.firmwareOnly &&
        fields.newestFirmwareVersion == 0) {
      // Nothing to program: refuse before the probe is touched.
      const std::string missing = std::string("no firmware image ") + kFirmwareBase + ".nnn in " +
                                  DirectoriesText(settings_.imageDirs);
      Fail(result_, FlowOutcome::Failed(FlowStage::FirmwareFile, LDR_E_FIRMWARE_FILE), missing);
      view_.ShowMessage(missing, "", MessageIcon::Exclamation, MessageButtons::Ok);
      return;
    }

    if (!Connect(controller)) {
      NoteDeviceGone(controller.Link());
      return;
    }

    switch (settings_.command) {
      case Command::Info:
        Info(controller);
        break;
      case Command::ReadMemory:
        ReadMemoryPieces(controller.Link());
        break;
      case Command::Update:
        if (settings_.firmwareOnly) {
          FirmwareOnly(controller);
        } else {
          Update(controller);
        }
        break;
      case Command::Erase:
        Erase(controller);
        break;
      case Command::Transmit:
        Transmit(controller);
        break;
      case Command::Backup:
        Backup(controller);
        break;
      case Command::Restore:
        Restore(controller);
        break;
      case Command::SetupShow:
        SetupShow(controller);
        break;
      case Command::LinkCheck:
        LinkCheck(controller.Link());
        break;
    }
    Leave(controller);
    NoteDeviceGone(controller.Link());
  }

  // A device that went away under the command ends it as a communication failure, whatever
  // step noticed first (a connect that lost its device included).
  void NoteDeviceGone(const ProbeLink& link) {
    if (!link.DeviceGone()) return;
    result_.deviceGone = true;
    result_.status = EXIT_COMM;
    result_.error = DeviceGoneText(target_.device);
    result_.portReason = DeviceGoneReasonJson();
    result_.hint.clear();
  }

  bool Connect(DialogController& controller) {
    const FlowOutcome outcome = controller.OnConnect();
    const DialogFields& fields = controller.Fields();
    if (outcome.passed) {
      result_.connected = true;
      result_.before = fields.identity;
      result_.haveBefore = true;
      result_.macAddress = fields.macAddressText;
      return true;
    }
    Fail(result_, outcome);
    if (ExitStatusOf(outcome) == EXIT_CONNECT && !controller.Link().DeviceGone()) {
      ExplainPort(controller.Link());
    }
    return false;
  }

  void ExplainPort(const ProbeLink& link) {
    result_.hint = PortHint(target_.label, target_.device, link.PortOpenFailure());
    result_.portReason = PortReasonJson(link.PortOpenFailure());
    result_.openFault = link.PortOpenFailure().fault;
    console_.Note(slot_, "hint: " + result_.hint, true);
  }

  // Leaves the probe as the window does when it closes, unless the user wants the loader kept.
  void Leave(DialogController& controller) {
    if (settings_.stayInLoader) {
      controller.Link().CloseLink();
    } else {
      controller.OnCancel();
    }
  }

  void Info(DialogController& controller) {
    const DialogFields& fields = controller.Fields();
    result_.after = fields.identity;
    result_.haveAfter = true;
    result_.updateAvailable = view_.ButtonEnabled(FlowButton::Update);
  }

  void ReadMemoryPieces(ProbeLink& link) {
    result_.details["address"] = Hex32(settings_.address);
    result_.details["count"] = settings_.count;
    result_.memory.assign(settings_.count, 0);
    TransferFailure failure;
    const ResultCode code = ReadFlashAdaptive(
        link, settings_.address, settings_.count, result_.memory.data(),
        [this](uint32_t done) {
          view_.SetStatus("Reading memory ... ( " +
                          std::to_string(uint64_t{done} * 100 / settings_.count) + "% )");
        },
        &failure);
    if (code != RESULT_OK) {
      // What was read before the piece that failed is still shown.
      result_.memory.resize(failure.address - settings_.address);
      Fail(result_, FlowOutcome::FailedAt(FlowStage::MemoryRead, code, failure.address),
           "reading " + Hex32(failure.address) + " failed");
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
      return;
    }
    view_.SetStatus("Reading memory passed!");
  }

  void Update(DialogController& controller) {
    FirmwareOptions& options = controller.Firmware();
    options.imageDirs = settings_.imageDirs;
    options.mergeRecords = settings_.fast;
    options.skipErasedRuns = settings_.skipErased;
    options.verifyReadBack = settings_.verify;
    options.firstDifference = &firstDifference_;
    options.rewrittenSectors = &result_.rewrittenSectors;
    const FlowOutcome outcome = controller.OnUpdate();
    if (!outcome.passed) {
      Fail(result_, outcome, UpdateDetail(outcome, controller.Fields()));
    }
    After(controller, outcome.passed);
    result_.updateAvailable = view_.ButtonEnabled(FlowButton::Update);
  }

  // Where an update failed on an image file or a transfer: the file and line, or the address.
  std::string UpdateDetail(const FlowOutcome& outcome, const DialogFields& fields) {
    if (outcome.stage == FlowStage::LogicFile) {
      return ImageFileDetail(LogicImageBase(fields.identity.serialNumber),
                             fields.newestLogicVersion, "logic image", "bad fuse row ending",
                             outcome.problem);
    }
    return FirmwareDetail(outcome, fields.newestFirmwareVersion);
  }

  // Where a firmware run failed on its file or its transfers: the line or the address.
  std::string FirmwareDetail(const FlowOutcome& outcome, ImageVersion version) {
    if (outcome.stage == FlowStage::FirmwareVerify && outcome.code == LDR_E_VERIFY &&
        firstDifference_ != kNoDifference) {
      return "Read back differs at " + Hex32(firstDifference_);
    }
    if (outcome.hasAddress) {
      return (outcome.stage == FlowStage::FirmwareWrite ? "could not write " : "could not read ") +
             Hex32(outcome.address);
    }
    if (outcome.stage != FlowStage::FirmwareFile) return "";
    return ImageFileDetail(kFirmwareBase, version, "firmware image", "bad record", outcome.problem);
  }

  // The file the flow read and what its parser found wrong there (the flow's own result, so the
  // file is not read a second time), or that no directory holds it.
  std::string ImageFileDetail(const char* base, ImageVersion version, const char* kind,
                              const char* bad, const ParseProblem& problem) {
    const std::string path = FindImagePath(base, version, settings_.imageDirs);
    if (path.empty()) {
      return std::string("no ") + kind + " " + base + "." +
             (version == 0 ? std::string("nnn") : VersionDigits(version)) + " in " +
             DirectoriesText(settings_.imageDirs);
    }
    if (problem.line == 0) return path + ": expected " + problem.expected;
    return path + ": " + bad + " on line " + std::to_string(problem.line) + " (expected " +
           problem.expected + ")";
  }

  void FirmwareOnly(DialogController& controller) {
    ImageVersion version = controller.Fields().newestFirmwareVersion;
    FirmwareOptions options;
    options.imageDirs = settings_.imageDirs;
    options.mergeRecords = settings_.fast;
    options.skipErasedRuns = settings_.skipErased;
    options.verifyReadBack = settings_.verify;
    options.firstDifference = &firstDifference_;
    options.rewrittenSectors = &result_.rewrittenSectors;
    ProgressDisplay progress;
    FlowOutcome outcome;
    {
      WaitCursor wait(view_);
      ProgramFirmware(
          controller.Link(), version, [this](const std::string& text) { view_.SetStatus(text); },
          progress, options, &outcome);
    }
    if (!outcome.passed) {
      view_.ShowMessage("Firmware update failed!", "", MessageIcon::Exclamation,
                        MessageButtons::Ok);
      Fail(result_, outcome, FirmwareDetail(outcome, version));
      After(controller, false);
      return;
    }
    // The versions the probe reports now, through the Current flow.
    const FlowOutcome current = controller.OnCurrent();
    if (!current.passed) Fail(result_, current);
    result_.after = controller.Fields().identity;
    result_.haveAfter = true;
    result_.updateAvailable = view_.ButtonEnabled(FlowButton::Update);
  }

  void Erase(DialogController& controller) {
    const FlowOutcome outcome = controller.OnErase();
    if (!outcome.passed) Fail(result_, outcome);
    if (outcome.stage == FlowStage::Declined) {
      result_.after = controller.Fields().identity;
      result_.haveAfter = true;
      return;
    }
    After(controller, outcome.passed);
  }

  // The Transmit button; the controller hands back the outcome and what was written.
  void Transmit(DialogController& controller) {
    const DialogFields& fields = controller.Fields();
    TransmitReport report;
    const FlowOutcome outcome = controller.OnTransmit(&report);
    const SetupTexts& texts = fields.setup;
    if (!outcome.passed) {
      std::string detail;
      if (outcome.stage == FlowStage::ConfigFile) {
        detail = "the configuration file '" + texts.configFileText +
                 "' is missing, unreadable or 64 KiB or more";
      } else if (outcome.stage == FlowStage::RegisterFile) {
        detail = "a register file named in '" + texts.configFileText +
                 "' is missing or unreadable, or the register image reaches 64 KiB";
      }
      Fail(result_, outcome, detail);
      return;
    }
    nlohmann::json& details = result_.details;
    details["setupBlock"] = {{"address", Hex32(SETUP_SECTOR)}, {"bytes", kSetupBlockSize}};
    details["probeIp"] = texts.probeIpText;
    details["subnetMask"] = texts.subnetMaskText;
    details["gateway"] = texts.gatewayText;
    details["configHost"] = texts.configHostText;
    details["configFile"] = texts.configFileText;
    details["standAlone"] = report.standAlone;
    if (report.standAlone) {
      details["configImage"] = {{"address", Hex32(CONFIG_SECTOR)}, {"bytes", report.configBytes}};
      details["registerImage"] = {{"address", Hex32(REGISTER_IMAGE_AREA)},
                                  {"bytes", report.registerImageBytes}};
    } else {
      details["configSectorErased"] = Hex32(CONFIG_SECTOR);
    }
  }

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

  void Backup(DialogController& controller) {
    const FlashRange& range = settings_.range;
    result_.details["file"] = settings_.file;
    result_.details["address"] = Hex32(range.address);
    result_.details["length"] = range.length;
    ProgressDisplay progress;
    std::string fileError;
    ResultCode code;
    {
      WaitCursor wait(view_);
      code = BackupFlash(
          controller.Link(), range, BackupHeader(controller.Fields().identity), settings_.file,
          [this](const std::string& text) { view_.SetStatus(text); }, progress, &fileError);
    }
    if (code == UPDATE_E_BACKUP_FILE) {
      Fail(result_, FlowOutcome::Failed(FlowStage::BackupFile, code), fileError);
    } else if (code != RESULT_OK) {
      Fail(result_, FlowOutcome::Failed(FlowStage::MemoryRead, code),
           "reading the flash broke off; " + settings_.file + " was not written");
    }
    if (code != RESULT_OK) {
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
    }
    After(controller, code == RESULT_OK);
  }

  void Restore(DialogController& controller) {
    const FlashContents& contents = *settings_.restore;
    nlohmann::json sectors = nlohmann::json::array();
    for (uint32_t sector : TouchedSectors(contents)) sectors.push_back(Hex32(sector));
    result_.details["file"] = settings_.file;
    result_.details["sectors"] = sectors;
    ProgressDisplay progress;
    uint32_t difference = 0;
    TransferFailure failure;
    ResultCode code;
    {
      WaitCursor wait(view_);
      code = RestoreFlash(
          controller.Link(), contents, [this](const std::string& text) { view_.SetStatus(text); },
          progress, &difference, &failure);
    }
    if (code == LDR_E_VERIFY) {
      Fail(result_, FlowOutcome::FailedAt(FlowStage::FlashWrite, code, difference),
           "read back differs at " + Hex32(difference));
    } else if (code != RESULT_OK && failure.code != RESULT_OK) {
      // A piece that gave up after its tries: the address it could not move.
      Fail(result_, FlowOutcome::FailedAt(FlowStage::FlashWrite, code, failure.address),
           (failure.writing ? "could not write " : "could not read ") + Hex32(failure.address));
    } else if (code != RESULT_OK) {
      Fail(result_, FlowOutcome::Failed(
                        code == LDR_E_ERASE ? FlowStage::FlashErase : FlowStage::FlashWrite, code));
    }
    if (code != RESULT_OK) {
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
    }
    // What the probe holds now: a restored firmware or setup shows in the versions.
    DeviceIdentity now;
    result_.after = controller.Fields().identity;
    result_.haveAfter = true;
    if (controller.Link().IsOpen() && ReadIdentity(controller.Link(), now) == RESULT_OK) {
      result_.after = now;
    }
  }

  void SetupShow(DialogController& controller) {
    StoredSetup setup;
    ResultCode code;
    {
      WaitCursor wait(view_);
      view_.SetStatus("Reading setup data ...");
      code = ReadStoredSetup(controller.Link(), setup);
    }
    if (code != RESULT_OK) {
      view_.SetStatus("Reading setup data failed!");
      Fail(result_, FlowOutcome::Failed(FlowStage::MemoryRead, code), "reading the setup failed");
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
      return;
    }
    view_.SetStatus("Reading setup data passed!");
    nlohmann::json block = {{"address", Hex32(SETUP_SECTOR)}};
    switch (setup.state) {
      case SetupBlockState::Erased:
        block["state"] = "erased";
        break;
      case SetupBlockState::Malformed:
        block["state"] = "malformed";
        block["problem"] = setup.problem;
        break;
      case SetupBlockState::Valid:
        block["state"] = "valid";
        block["mac"] = setup.macText;
        block["probeIp"] = setup.texts.probeIpText;
        block["subnetMask"] = setup.texts.subnetMaskText;
        block["gateway"] = setup.texts.gatewayText;
        block["configHost"] = setup.texts.configHostText;
        block["configFile"] = Printable(setup.texts.configFileText);
        block["standAlone"] = setup.standAlone;
        break;
    }
    nlohmann::json& details = result_.details;
    details["setupBlock"] = block;
    if (!setup.standAlone) return;

    nlohmann::json lines = nlohmann::json::array();
    std::string text(setup.configFile.begin(), setup.configFile.end());
    for (size_t start = 0; start < text.size() && lines.size() < kShownLines;) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(Printable(line));
      start = end + 1;
    }
    details["configImage"] = {{"address", Hex32(CONFIG_SECTOR)},
                              {"bytes", setup.configFile.size()},
                              {"firstLines", lines}};
    nlohmann::json records = nlohmann::json::array();
    for (const RegisterRecord& record : setup.records) {
      char tag[8];
      std::snprintf(tag, sizeof tag, "0x%02X", record.tag);
      records.push_back({{"tag", tag}, {"bytes", record.size}, {"name", Printable(record.name)}});
    }
    details["registerImage"] = {{"address", Hex32(REGISTER_IMAGE_AREA)},
                                {"bytes", setup.registerImage.size()},
                                {"records", records}};
    if (!settings_.extractDir.empty()) Extract(setup);
  }

  // Writes the stored configuration file and register files into the --extract directory, under
  // the last part of the names the setup gives them.
  void Extract(const StoredSetup& setup) {
    std::string dir = settings_.extractDir;
    dir = DirectoryPrefix(dir);
    std::set<std::string> used;
    auto fileName = [&used](std::string name, const std::string& fallback) {
      if (!name.empty() && name[0] == '$') name.erase(0, 1);
      const size_t slash = name.find_last_of("/\\");
      if (slash != std::string::npos) name.erase(0, slash + 1);
      name = Printable(name);
      if (name.empty() || name == "." || name == "..") name = fallback;
      while (!used.insert(name).second) name = "_" + name;
      return name;
    };
    nlohmann::json written = nlohmann::json::array();
    auto write = [&](const std::string& name, const uint8_t* data, size_t size) {
      std::string error;
      const std::string path = dir + name;
      if (!ReplaceFileContents(path, std::string(data, data + size), error)) {
        Fail(result_, FlowOutcome::Failed(FlowStage::ExtractFile), error);
        return;
      }
      written.push_back(path);
    };
    write(fileName(setup.texts.configFileText, "configuration.cfg"), setup.configFile.data(),
          setup.configFile.size());
    for (size_t i = 0; i < setup.records.size(); ++i) {
      const RegisterRecord& record = setup.records[i];
      write(fileName(record.name, "register-" + std::to_string(i + 1) + ".def"),
            setup.registerImage.data() + record.offset, record.size);
    }
    result_.details["extracted"] = written;
  }

  // Bytes a terminal and JSON can show: control bytes and bytes of 0x80 or more become '.'.
  static std::string Printable(std::string text) {
    for (char& c : text) {
      const unsigned char byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte >= 0x7F) c = '.';
    }
    return text;
  }

  // The versions after a flow: the flow's own on success, otherwise what the probe reports now
  // (a failed flow zeroes them), read quietly.
  void After(DialogController& controller, bool passed) {
    result_.after = controller.Fields().identity;
    result_.haveAfter = true;
    if (passed || !controller.Link().IsOpen()) return;
    DeviceIdentity now;
    if (ReadIdentity(controller.Link(), now) == RESULT_OK) result_.after = now;
  }

  // Times bare LDR_IDENTIFY requests over the link the Connect flow opened: a probe that ran its
  // firmware has been brought into its loader by then, or the connect has failed.
  void LinkCheck(ProbeLink& link) {
    result_.details["speedAsked"] =
        settings_.speed != 0 ? settings_.speed : SpeedFromIndex(settings_.speedIndex);
    result_.details["speedReached"] = link.Speed();
    // DTR and RTS as the driver reports them after the open cleared them.
    const ModemLines lines = link.PortModemLines();
    if (lines.known) {
      result_.details["modemLines"] = {{"dtr", lines.dtr ? "on" : "off"},
                                       {"rts", lines.rts ? "on" : "off"}};
    } else {
      result_.details["modemLines"] = "not available";
    }
    int answered = 0;
    double best = 0, worst = 0, total = 0;
    for (int i = 0; i < settings_.transactions; ++i) {
      const uint8_t request[1] = {LDR_IDENTIFY};
      Clock::time_point sent = Clock::now();
      int32_t length = TransactCommand(link, request, 1);
      double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
      view_.SetStatus("Link check ... ( " + std::to_string((i + 1) * 100 / settings_.transactions) +
                      "% )");
      if (length < 0) continue;
      best = answered == 0 ? ms : std::min(best, ms);
      worst = std::max(worst, ms);
      total += ms;
      ++answered;
    }
    result_.details["transactions"] = settings_.transactions;
    result_.details["answered"] = answered;
    if (answered > 0) {
      result_.details["roundTripMs"] = {{"min", best}, {"avg", total / answered}, {"max", worst}};
    }
    if (answered < settings_.transactions) {
      Fail(result_, FlowOutcome::Failed(FlowStage::IdentityRead, SESSION_E_NO_REPLY),
           std::to_string(settings_.transactions - answered) + " of " +
               std::to_string(settings_.transactions) + " transactions got no reply");
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
    }
  }

  static constexpr uint32_t kNoDifference = 0xFFFFFFFF;
  static constexpr size_t kShownLines = 5;  // of a stored configuration file

  const JobSettings& settings_;
  const ProbeTarget& target_;
  Console& console_;
  int slot_;
  TerminalView view_;
  LinkTrace trace_;  // outlives the link, which reports to it until it is destroyed
  ProbeResult result_;
  uint32_t firstDifference_ = kNoDifference;
};

}  // namespace

ProbeResult RunProbeJob(const JobSettings& settings, const ProbeTarget& target, Console& console,
                        int slot) {
  try {
    return Job(settings, target, console, slot).Run();
  } catch (const std::exception& error) {
    // Nothing in the core throws; this guards a probe's thread against the unexpected
    // (allocation failure) so the other probes still finish.
    ProbeResult result;
    result.label = target.label;
    result.device = target.device;
    result.status = EXIT_OTHER;
    result.error = std::string("internal error: ") + error.what();
    return result;
  }
}

}  // namespace vanta::cli
