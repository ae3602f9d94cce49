// transmit: the Transmit button's flow with the five setup texts from options, else from what the
// window saved; afterwards what the probe holds, read back and decoded.
#include "cli/commands/command.h"
#include "setup/config_image.h"
#include "setup/setup_block.h"
#include "setup/stored_setup.h"
#include "update/bulk_transfer.h"

namespace vanta::cli {
namespace {

constexpr size_t kAddressChars = 15;   // as the window's address fields take
constexpr size_t kFileNameChars = 79;  // what the setup block holds of the name

struct TransmitFacts : CommandFacts {
  SetupTexts held;  // the block read back after the write, decoded
  TransmitReport report;
};

// The window stores an address it cannot parse as all ones; the command line refuses it, since
// nobody sees a field turn red there. Four parts of one to three digits, each at most 255.
bool IsDottedQuad(const std::string& text) {
  int parts = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
      return false;
    }
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

CLI::Validator DottedQuad() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.size() > kAddressChars) {
          return "'" + text + "' has " + std::to_string(text.size()) +
                 " characters: Please enter no more than 15 characters.";
        }
        if (IsDottedQuad(text)) return "";
        return "Invalid IP address! '" + text + "' is no dotted quad such as 192.168.1.10";
      },
      "", "");
}

CLI::Validator FileNameFits() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.size() <= kFileNameChars) return "";
        return "the setup block holds 79 characters of the name; '" + text + "' has " +
               std::to_string(text.size());
      },
      "", "");
}

class Transmit : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    ip_ = command.add_option("--ip", given_.probeIpText, "the probe's IP address")
              ->option_text("A")
              ->check(DottedQuad());
    mask_ = command.add_option("--mask", given_.subnetMaskText, "subnet mask")
                ->option_text("M")
                ->check(DottedQuad());
    gateway_ = command.add_option("--gateway", given_.gatewayText, "default gateway")
                   ->option_text("G")
                   ->check(DottedQuad());
    host_ = command
                .add_option("--host", given_.configHostText,
                            "configuration host IP address; 255.255.255.255 stores the "
                            "configuration file in the probe")
                ->option_text("H")
                ->check(DottedQuad());
    config_ =
        command.add_option("--config", given_.configFileText, "configuration file name or path")
            ->option_text("FILE")
            ->check(FileNameFits());
  }

  // The setup texts start as the window's defaults; each comes from its option, else from what
  // the window saved.
  Failure Check(const CheckContext& context) override {
    texts_ = context.stored.setup;
    auto pick = [](CLI::Option* option, const std::string& given, std::string& field) {
      if (option->count() > 0) field = given;
    };
    pick(ip_, given_.probeIpText, texts_.probeIpText);
    pick(mask_, given_.subnetMaskText, texts_.subnetMaskText);
    pick(gateway_, given_.gatewayText, texts_.gatewayText);
    pick(host_, given_.configHostText, texts_.configHostText);
    pick(config_, given_.configFileText, texts_.configFileText);
    return Failure::None();
  }

  SetupTexts Texts() const override { return texts_; }

  void Run(ProbeSession& session) const override {
    DialogController& controller = session.Controller();
    TransmitFacts& facts = session.Result().Own<TransmitFacts>();
    const FlowOutcome outcome = controller.OnTransmit(&facts.report);
    if (!outcome.passed) {
      const bool fileStage =
          outcome.stage == FlowStage::ConfigFile || outcome.stage == FlowStage::RegisterFile;
      const std::string detail = fileStage ? ConfigProblemText(facts.report.problem) : "";
      Fail(session.Result(), outcome, detail);
      session.Result().facts.reset();
      return;
    }
    // What the probe holds now, not what it was given: the block read back and decoded.
    SetupBlock block{};
    const ResultCode code =
        ReadFlashAdaptive(session.Link(), SETUP_SECTOR, kSetupBlockSize, block.data());
    const StoredSetup held = DecodeSetupBlock(block);
    if (code != RESULT_OK || held.state != SetupBlockState::Valid) {
      session.Result().facts.reset();
      session.FailAndShow(FlowOutcome::Failed(FlowStage::SetupBlock, code),
                          "the setup block could not be read back after the write");
      return;
    }
    facts.held = held.texts;
  }

  std::string Text(const ProbeResult& r, bool) const override {
    const TransmitFacts* f = r.Find<TransmitFacts>();
    if (f == nullptr) return "";
    const SetupTexts& t = f->held;
    std::string text = r.label + " (" + r.before.serialNumber + "): setup block of " +
                       std::to_string(kSetupBlockSize) + " bytes written at " +
                       Hex32(SETUP_SECTOR) + " and verified: IP " + t.probeIpText + ", mask " +
                       t.subnetMaskText + ", gateway " + t.gatewayText + ", host " +
                       t.configHostText + ", file \"" + Printable(t.configFileText) + "\"; ";
    if (f->report.standAlone) {
      text += "stand-alone configuration: " + std::to_string(f->report.configBytes) +
              " bytes of the file at " + Hex32(CONFIG_SECTOR) + ", register image of " +
              std::to_string(f->report.registerImageBytes) + " bytes at " +
              Hex32(REGISTER_IMAGE_AREA);
    } else {
      text += "configuration sector " + Hex32(CONFIG_SECTOR) + " erased";
    }
    return text + "\n";
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    const TransmitFacts* f = r.Find<TransmitFacts>();
    if (f == nullptr) return;
    const SetupTexts& t = f->held;
    j["setupBlock"] = {{"address", Hex32(SETUP_SECTOR)}, {"bytes", kSetupBlockSize}};
    j["probeIp"] = t.probeIpText;
    j["subnetMask"] = t.subnetMaskText;
    j["gateway"] = t.gatewayText;
    j["configHost"] = t.configHostText;
    j["configFile"] = Printable(t.configFileText);
    j["standAlone"] = f->report.standAlone;
    if (f->report.standAlone) {
      j["configImage"] = {{"address", Hex32(CONFIG_SECTOR)}, {"bytes", f->report.configBytes}};
      j["registerImage"] = {{"address", Hex32(REGISTER_IMAGE_AREA)},
                            {"bytes", f->report.registerImageBytes}};
    } else {
      j["configSectorErased"] = Hex32(CONFIG_SECTOR);
    }
  }

 private:
  SetupTexts given_;  // what the options say
  SetupTexts texts_;  // what is written: the options over the saved texts
  CLI::Option *ip_ = nullptr, *mask_ = nullptr, *gateway_ = nullptr, *host_ = nullptr,
              *config_ = nullptr;
};

}  // namespace

const HelpPage kTransmitPage = {
    "transmit", "write the probe's network setup",
    "vantalink-cli transmit [--ip A] [--mask M] [--gateway G] [--host H] [--config FILE] "
    "[GLOBAL OPTIONS]",
    "Does what the Transmit button does: writes the setup block (MAC address from the serial "
    "number, probe IP address, subnet mask, default gateway, configuration host, configuration "
    "file name) at 0x01008000, reads it back and compares it, and erases the configuration "
    "sector 0x010C0000. When the host address is 255.255.255.255 (or is no valid address) the "
    "configuration file and the register files its [REGS] section names are stored there as "
    "the stand-alone configuration; both files are read before anything is erased.\n\n"
    "An option left out takes the value the window saved last, else the window's default "
    "(111.111.111.111, 255.255.255.0, 255.255.255.255, 111.111.111.111, no file). The entries "
    "are checked as the window checks them: the probe IP address must be valid (\"Invalid IP "
    "address!\") and each address at most 15 characters. A summary tells what was written "
    "where.",
    "vantalink-cli transmit --port COM1 --ip 192.168.1.10 --mask 255.255.255.0 \\\n"
    "    --gateway 192.168.1.1 --host 192.168.1.2 --config probe.cfg\n"
    "# stand-alone: store probe.cfg and its register files in the probe\n"
    "vantalink-cli transmit --port COM1 --ip 10.0.0.7 --host 255.255.255.255 --config "
    "/srv/probe.cfg"};

std::unique_ptr<CliCommand> MakeTransmit() {
  return std::make_unique<Transmit>();
}

}  // namespace vanta::cli
