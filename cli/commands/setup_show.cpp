// setup show: the network setup the probe holds, and with --extract its stored files.
#include "cli/commands/command.h"
#include "platform/files.h"
#include "setup/setup_block.h"
#include "setup/stored_setup.h"
#include "update/setup_reading.h"

namespace vanta::cli {
namespace {

constexpr size_t kShownLines = 5;  // of a stored configuration file

struct SetupFacts : CommandFacts {
  StoredSetup setup;
  std::vector<std::string> extracted;  // the paths written by --extract
  std::vector<std::string> refused;    // names --extract left out: they would leave DIR
};

class SetupShow : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("ACTION", action_, "show")->required()->check(CLI::IsMember({"show"}));
    command
        .add_option("--extract", extract_,
                    "write the stored configuration file and register files into DIR")
        ->option_text("DIR");
  }

  Failure Check(const CheckContext& context) override {
    if (extract_.empty()) return Failure::None();
    if (context.namedTargets > 1) return UsageFailure("--extract serves one probe at a time");
    std::string made;  // made when missing, before the probe is read
    if (!MakeDirectories(extract_, made)) return UsageFailure("--extract: " + made);
    return Failure::None();
  }

  void Run(ProbeSession& session) const override {
    StoredSetup setup;
    FlowOutcome outcome;
    {
      WaitCursor wait(session.View());
      session.Status("Reading setup data ...");
      outcome = ReadProbeSetup(session.Link(), setup);
    }
    if (!outcome.passed) {
      session.Status("Reading setup data failed!");
      session.FailAndShow(outcome, outcome.hasAddress
                                       ? "reading the setup failed at " + Hex32(outcome.address)
                                       : "reading the setup failed");
      return;
    }
    session.Status("Reading setup data passed!");
    SetupFacts& facts = session.Result().Own<SetupFacts>();
    facts.setup = std::move(setup);
    if (facts.setup.standAlone && !extract_.empty()) Extract(session.Result(), facts);
  }

  std::string Text(const ProbeResult& r, bool single) const override {
    const SetupFacts* f = r.Find<SetupFacts>();
    if (f == nullptr) return "";
    const StoredSetup& s = f->setup;
    std::string text = single ? "" : "== " + r.label + " ==\n";
    text += "Setup block at " + Hex32(SETUP_SECTOR) + ": ";
    if (s.state == SetupBlockState::Erased)
      return text + "erased (no setup stored)\n" + Gap(single);
    if (s.state == SetupBlockState::Malformed) {
      return text + "malformed (" + s.problem + ")\n" + Gap(single);
    }
    text += "valid\n";
    text += "MAC:          " + s.macText + "\n";
    text += "IP address:   " + s.texts.probeIpText + "\n";
    text += "Subnet mask:  " + s.texts.subnetMaskText + "\n";
    text += "Gateway:      " + s.texts.gatewayText + "\n";
    text += "Config host:  " + s.texts.configHostText +
            (s.standAlone ? " (stand-alone: the configuration is in the probe)" : "") + "\n";
    text += "Config file:  \"" + Printable(s.texts.configFileText) + "\"\n";
    if (!s.standAlone) return text + Gap(single);
    text += "Stored configuration file at " + Hex32(CONFIG_SECTOR) + ": " +
            std::to_string(s.configFile.size()) + " bytes\n";
    for (const std::string& line : FirstLines(s)) text += "  | " + line + "\n";
    text += "Register records at " + Hex32(REGISTER_IMAGE_AREA) + ": " +
            std::to_string(s.records.size()) + " (" + std::to_string(s.registerImage.size()) +
            " bytes)\n";
    for (const RegisterRecord& record : s.records) {
      text += "  tag " + Tag(record) + "  " + std::to_string(record.size) + " bytes  " +
              Printable(record.name) + "\n";
    }
    for (const std::string& path : f->extracted) text += "Extracted:    " + path + "\n";
    for (const std::string& name : f->refused) {
      text += "Not extracted: \"" + Printable(name) + "\" would leave " + extract_ + "\n";
    }
    return text + Gap(single);
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    const SetupFacts* f = r.Find<SetupFacts>();
    if (f == nullptr) return;
    const StoredSetup& s = f->setup;
    nlohmann::json block = {{"address", Hex32(SETUP_SECTOR)}};
    switch (s.state) {
      case SetupBlockState::Erased:
        block["state"] = "erased";
        break;
      case SetupBlockState::Malformed:
        block["state"] = "malformed";
        block["problem"] = s.problem;
        break;
      case SetupBlockState::Valid:
        block["state"] = "valid";
        block["mac"] = s.macText;
        block["probeIp"] = s.texts.probeIpText;
        block["subnetMask"] = s.texts.subnetMaskText;
        block["gateway"] = s.texts.gatewayText;
        block["configHost"] = s.texts.configHostText;
        block["configFile"] = Printable(s.texts.configFileText);
        block["standAlone"] = s.standAlone;
        break;
    }
    j["setupBlock"] = block;
    if (!s.standAlone) return;
    j["configImage"] = {{"address", Hex32(CONFIG_SECTOR)},
                        {"bytes", s.configFile.size()},
                        {"firstLines", FirstLines(s)}};
    nlohmann::json records = nlohmann::json::array();
    for (const RegisterRecord& record : s.records) {
      records.push_back(
          {{"tag", Tag(record)}, {"bytes", record.size}, {"name", Printable(record.name)}});
    }
    j["registerImage"] = {{"address", Hex32(REGISTER_IMAGE_AREA)},
                          {"bytes", s.registerImage.size()},
                          {"records", records}};
    if (!extract_.empty()) {
      j["extracted"] = f->extracted;
      j["refused"] = f->refused;
    }
  }

 private:
  static std::string Gap(bool single) { return single ? "" : "\n"; }

  static std::string Tag(const RegisterRecord& record) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%02X", record.tag);
    return tag;
  }

  static std::vector<std::string> FirstLines(const StoredSetup& setup) {
    std::vector<std::string> lines;
    const std::string text(setup.configFile.begin(), setup.configFile.end());
    for (size_t start = 0; start < text.size() && lines.size() < kShownLines;) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(Printable(line));
      start = end + 1;
    }
    return lines;
  }

  // Writes the stored configuration file and register files into the --extract directory, under
  // the names the setup gives them.
  void Extract(ProbeResult& result, SetupFacts& facts) const {
    const ExtractResult extracted = ExtractStoredSetup(facts.setup, extract_);
    if (!extracted.passed)
      Fail(result, FlowOutcome::Failed(FlowStage::ExtractFile), extracted.error);
    facts.extracted = extracted.written;
    facts.refused = extracted.refused;
  }

  std::string action_, extract_;
};

}  // namespace

const HelpPage kSetupPage = {
    "setup", "show the network setup the probe holds",
    "vantalink-cli setup show [--extract DIR] [GLOBAL OPTIONS]",
    "Connects and reads the setup block at 0x01008000: the MAC address stored in it, the probe's "
    "IP address, subnet mask, gateway, configuration host and configuration file name, or that "
    "the block is erased or malformed. With the host 255.255.255.255 it also shows the "
    "configuration file stored at 0x010C0000 (size and first lines) and the register records "
    "at 0x010D0000 (tag, size and the name the configuration gives each).\n\n"
    "--extract DIR writes the stored configuration file and every register file into DIR, "
    "under the names the configuration uses ($x/r.def as x/r.def, sub-folders made), so the "
    "extracted configuration can be transmitted again; DIR is created when missing. A name that "
    "would leave DIR (absolute, a drive, ..) is refused and written nowhere. --json prints the "
    "same as one object.",
    "vantalink-cli setup show --port COM1\n"
    "vantalink-cli setup show --port COM1 --json --extract ./from-probe"};

std::unique_ptr<CliCommand> MakeSetupShow() {
  return std::make_unique<SetupShow>();
}

}  // namespace vanta::cli
