#include "cli/probe_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/dialog_controller.h"
#include "cli/link_trace.h"
#include "cli/port_hint.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "setup/dotted_quad.h"
#include "setup/setup_block.h"
#include "update/firmware.h"
#include "update/srecord.h"

namespace vanta::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kReadPiece = 1024;  // the most bytes one LDR_READ_MEMORY asks for here

// The controller opens "\\.\COMn" by Port list index; the command line names any device. This
// port opens its own device whatever name the link asks for, and passes everything else on.
class FixedDevicePort : public SerialPort {
 public:
  FixedDevicePort(std::string device, std::unique_ptr<SerialPort> inner)
      : device_(std::move(device)), inner_(std::move(inner)) {}
  ResultCode OpenPort(const std::string&) override { return inner_->OpenPort(device_); }
  ResultCode SetPortSpeed(uint32_t bitsPerSecond) override {
    return inner_->SetPortSpeed(bitsPerSecond);
  }
  uint32_t Speed() const override { return inner_->Speed(); }
  void PurgeInput() override { inner_->PurgeInput(); }
  ResultCode ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    return inner_->ReadByte(byte, timeoutMs);
  }
  ResultCode WriteBlock(const uint8_t* data, size_t count) override {
    return inner_->WriteBlock(data, count);
  }
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

std::string CodeText(ResultCode code) {
  return std::string(" (") + ResultName(code) + ")";
}

// The first message box that names a class by itself, with its text.
bool FirstClassifiedMessage(const TerminalView& view, ExitStatus& status, std::string& text) {
  for (const std::string& message : view.Messages()) {
    ExitStatus found = ClassifyMessage(message);
    if (found != EXIT_OK) {
      status = found;
      text = message;
      return true;
    }
  }
  return false;
}

void Fail(ProbeResult& result, ExitStatus status, const std::string& error) {
  if (result.status != EXIT_OK) return;  // the first failure is the one that counts
  result.status = status;
  result.error = error;
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
        std::make_unique<FixedDevicePort>(target_.device, MakePosixSerialPort()));
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
    fields.probeIpText = settings_.probeIp;
    fields.subnetMaskText = settings_.subnetMask;
    fields.gatewayText = settings_.gateway;
    fields.configHostText = settings_.configHost;
    fields.configFileText = settings_.configFile;
    controller.OnOpen();
    result_.newestFirmware = fields.newestFirmwareVersion;
    result_.newestLogic = fields.newestLogicVersion;

    if (settings_.command == Command::Update && settings_.firmwareOnly &&
        fields.newestFirmwareVersion == 0) {
      // Nothing to program: refuse before the probe is touched.
      Fail(result_, EXIT_IMAGE,
           std::string("no firmware image ") + kFirmwareBase + ".nnn in " +
               DirectoriesText(settings_.imageDirs));
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
      return;
    }

    if (!Connect(controller)) return;

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
      case Command::LinkCheck:
        LinkCheck(controller.Link());
        break;
    }
    Leave(controller);
  }

  bool Connect(DialogController& controller) {
    controller.OnConnect();
    const DialogFields& fields = controller.Fields();
    if (controller.Link().IsOpen() && fields.identity.loaderVersion != 0) {
      result_.connected = true;
      result_.before = fields.identity;
      result_.haveBefore = true;
      result_.macAddress = fields.macAddressText;
      return true;
    }
    ExitStatus status = EXIT_CONNECT;
    std::string text = "Cannot connect to Vanta loader!";
    FirstClassifiedMessage(view_, status, text);
    Fail(result_, status, text);
    if (status == EXIT_CONNECT) ExplainPort();
    return false;
  }

  void ExplainPort() {
    result_.hint = PortHint(target_.label, target_.device);
    if (result_.hint.empty()) {
      result_.hint = "no loader answered on " + target_.device +
                     " (check cable and power, that no other program uses the port, the "
                     "speed, and try --trace)";
    }
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
    uint32_t done = 0;
    result_.details["address"] = Hex32(settings_.address);
    result_.details["count"] = settings_.count;
    result_.memory.reserve(settings_.count);
    uint8_t piece[kReadPiece];
    while (done < settings_.count) {
      uint16_t count =
          static_cast<uint16_t>(std::min<uint32_t>(kReadPiece, settings_.count - done));
      uint32_t address = settings_.address + done;
      ResultCode code = ReadMemory(link, address, count, piece);
      if (code != RESULT_OK) {
        Fail(result_, ClassifyResult(code) == EXIT_CONNECT ? EXIT_COMM : ClassifyResult(code),
             "reading " + std::to_string(count) + " bytes at " + Hex32(address) + " failed" +
                 CodeText(code));
        view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
        return;
      }
      result_.memory.insert(result_.memory.end(), piece, piece + count);
      done += count;
      view_.SetStatus("Reading memory ... ( " +
                      std::to_string(uint64_t{done} * 100 / settings_.count) + "% )");
    }
    view_.SetStatus("Reading memory passed!");
  }

  void Update(DialogController& controller) {
    FirmwareOptions& options = controller.Firmware();
    options.imageDirs = settings_.imageDirs;
    options.mergeRecords = settings_.fast;
    options.verifyReadBack = settings_.verify;
    options.firstDifference = &firstDifference_;
    controller.OnUpdate();
    bool passed = view_.LastStatus() == "Updating firmware and logic passed!";
    if (!passed) {
      ExitStatus status = EXIT_COMM;
      std::string text = "Updating firmware and logic failed!";
      if (!FirstClassifiedMessage(view_, status, text)) {
        bool firmwareFailed = std::find(view_.Messages().begin(), view_.Messages().end(),
                                        "Firmware update failed!") != view_.Messages().end();
        if (firmwareFailed)
          FirmwareFailure(controller.Fields().newestFirmwareVersion, status, text);
      }
      Fail(result_, status, text);
    }
    After(controller, passed);
    result_.updateAvailable = view_.ButtonEnabled(FlowButton::Update);
  }

  // Tells a firmware run that failed on its file or its read-back from one the probe broke off.
  void FirmwareFailure(ImageVersion version, ExitStatus& status, std::string& text) {
    text = "Firmware update failed!";
    if (settings_.verify && firstDifference_ != kNoDifference) {
      status = EXIT_VERIFY;
      text += " Read back differs at " + Hex32(firstDifference_);
      return;
    }
    std::string path = FindImagePath(kFirmwareBase, version, settings_.imageDirs);
    std::string problem = path.empty() ? std::string("no firmware image ") + kFirmwareBase +
                                             ".nnn in " + DirectoriesText(settings_.imageDirs)
                                       : FirmwareFileProblem(path);
    if (!problem.empty()) {
      status = EXIT_IMAGE;
      text += " " + problem;
      return;
    }
    status = EXIT_COMM;
  }

  void FirmwareOnly(DialogController& controller) {
    ImageVersion version = controller.Fields().newestFirmwareVersion;
    FirmwareOptions options;
    options.imageDirs = settings_.imageDirs;
    options.mergeRecords = settings_.fast;
    options.verifyReadBack = settings_.verify;
    options.firstDifference = &firstDifference_;
    ProgressDisplay progress;
    ResultCode code;
    {
      WaitCursor wait(view_);
      code = ProgramFirmware(
          controller.Link(), version, [this](const std::string& text) { view_.SetStatus(text); },
          progress, options);
    }
    if (code != RESULT_OK) {
      view_.ShowMessage("Firmware update failed!", "", MessageIcon::Exclamation,
                        MessageButtons::Ok);
      ExitStatus status = ClassifyResult(code);
      std::string text = "Firmware update failed!";
      if (status == EXIT_VERIFY) {
        text += " Read back differs at " + Hex32(firstDifference_);
      } else if (status == EXIT_IMAGE) {
        std::string problem =
            FirmwareFileProblem(FindImagePath(kFirmwareBase, version, settings_.imageDirs));
        text += " " + (problem.empty() ? std::string("image file unusable") : problem);
      } else {
        text += CodeText(code);
      }
      Fail(result_, status == EXIT_CONNECT ? EXIT_COMM : status, text);
      After(controller, false);
      return;
    }
    // The versions the probe reports now, through the Current flow.
    controller.OnCurrent();
    if (view_.LastStatus() != "Reading current versions passed!") {
      Fail(result_, EXIT_COMM, "Communication with Vanta failed!");
    }
    result_.after = controller.Fields().identity;
    result_.haveAfter = true;
    result_.updateAvailable = view_.ButtonEnabled(FlowButton::Update);
  }

  void Erase(DialogController& controller) {
    controller.OnErase();
    if (view_.Declined()) {
      Fail(result_, EXIT_DECLINED, "erase not confirmed");
      result_.after = controller.Fields().identity;
      result_.haveAfter = true;
      return;
    }
    bool passed = view_.LastStatus() == "Erasing Flash and EPLD passed!";
    if (!passed) {
      ExitStatus status = EXIT_COMM;
      std::string text = "Erasing Flash and EPLD failed!";
      FirstClassifiedMessage(view_, status, text);
      Fail(result_, status, text);
    }
    After(controller, passed);
  }

  // The Transmit button; the controller hands back the code and what was written for the summary.
  void Transmit(DialogController& controller) {
    const DialogFields& fields = controller.Fields();
    TransmitReport report;
    const std::optional<ResultCode> outcome = controller.TransmitWithReport(&report);
    if (!outcome) {
      ExitStatus status = EXIT_USAGE;
      std::string text = "Invalid IP address!";
      FirstClassifiedMessage(view_, status, text);
      Fail(result_, status, text);
      return;
    }
    const ResultCode code = *outcome;
    const SetupTexts texts{fields.probeIpText, fields.subnetMaskText, fields.gatewayText,
                           fields.configHostText, fields.configFileText};
    if (code != RESULT_OK) {
      std::string text = "Transfer failed!";
      if (code == SETUP_E_CONFIG_FILE) {
        text += " Cannot use the configuration file '" + texts.configFileText +
                "' (missing, unreadable or 64 KiB or more)";
      } else if (code == SETUP_E_REG_FILE) {
        text += " Cannot use a register file named in '" + texts.configFileText +
                "' (missing, unreadable, or the register image reaches 64 KiB)";
      } else if (code == SETUP_E_SERIAL) {
        text += " The probe's serial number is too short to build its MAC address";
      } else if (code == LDR_E_VERIFY) {
        text += " The setup block read back differs";
      } else {
        text += CodeText(code);
      }
      ExitStatus status = ClassifyResult(code);
      Fail(result_, status == EXIT_CONNECT ? EXIT_COMM : status, text);
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
    result_.details["speedAsked"] = SpeedFromIndex(settings_.speedIndex);
    result_.details["speedReached"] = link.Speed();
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
      Fail(result_, EXIT_COMM,
           std::to_string(settings_.transactions - answered) + " of " +
               std::to_string(settings_.transactions) + " transactions got no reply");
      view_.ShowMessage(result_.error, "", MessageIcon::Exclamation, MessageButtons::Ok);
    }
  }

  static constexpr uint32_t kNoDifference = 0xFFFFFFFF;

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

std::string FirmwareFileProblem(const std::string& path) {
  TextFile file;
  if (!file.Open(path)) return "cannot open " + path;
  std::string line;
  uint32_t address = 0;
  uint8_t data[256];
  int lineNumber = 0;
  bool holdsData = false;
  while (file.ReadLine(line, 256)) {
    ++lineNumber;
    const int count = ParseSRecord(line, address, data);
    if (count < 0) return path + ": bad record on line " + std::to_string(lineNumber);
    holdsData = holdsData || count > 0;
  }
  if (file.Failed()) return path + ": read error after line " + std::to_string(lineNumber);
  if (!holdsData) return path + ": the image holds no data records";
  return "";
}

}  // namespace vanta::cli
