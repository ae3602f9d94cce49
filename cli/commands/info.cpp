// info: what the Connect button shows, beside the newest images and what Update would do.
#include "cli/commands/command.h"

namespace vanta::cli {
namespace {

struct InfoFacts : CommandFacts {
  DeviceIdentity identity;
  ImageVersion newestFirmware = 0, newestLogic = 0;
  UpdateOffer offer = UpdateOffer::NotNeeded;
  ImageDirectories imageDirs;
};

class Info : public CliCommand {
 public:
  void AddOptions(CLI::App&) override {}

  // The newest images count also for a probe that cannot be connected.
  bool BeforeConnect(ProbeSession& session) const override {
    InfoFacts& facts = session.Result().Own<InfoFacts>();
    const DialogFields& fields = session.Controller().Fields();
    facts.newestFirmware = fields.newestFirmwareVersion;
    facts.newestLogic = fields.newestLogicVersion;
    facts.imageDirs = session.Settings().imageDirs;
    return true;
  }

  void Run(ProbeSession& session) const override {
    InfoFacts& facts = session.Result().Own<InfoFacts>();
    const DialogFields& fields = session.Controller().Fields();
    ProbeResult& result = session.Result();
    result.after = fields.identity;
    result.haveAfter = true;
    facts.identity = fields.identity;
    facts.offer = UpdateRule(fields);
  }

  std::string Text(const ProbeResult& r, bool single) const override {
    const InfoFacts* f = r.Find<InfoFacts>();
    if (!r.connected || f == nullptr) return "";
    std::string text = single ? "" : "== " + r.label + " ==\n";
    text += "Port:      " + r.label + (r.label != r.device ? " (" + r.device + ")" : "") + "\n";
    text += "Serial:    " + r.before.serialNumber + "\n";
    text += "MAC:       " + r.macAddress + "\n";
    text += "Loader:    " + VersionText(r.before.loaderVersion) + "\n";
    text += "Firmware:  " + VersionText(r.before.firmwareVersion) + "  (newest image " +
            VersionText(f->newestFirmware) + ")\n";
    text += "Logic:     " + VersionText(r.before.logicVersion) + "  (newest image " +
            VersionText(f->newestLogic) + ")\n";
    switch (f->offer) {
      case UpdateOffer::Offered:
        text += "Update:    available\n";
        break;
      case UpdateOffer::NotNeeded:
        text += "Update:    not needed\n";
        break;
      case UpdateOffer::NoImages:
        text += "Update:    not possible: no image files (" + std::string(kFirmwareBase) +
                ".nnn, " + kLogicBase + ".nnn) found in " + DirectoriesText(f->imageDirs) + "\n";
        break;
    }
    return text + (single ? "" : "\n");
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    if (r.haveBefore) AddVersions(r.before, j);
    const InfoFacts* f = r.Find<InfoFacts>();
    const InfoFacts none;
    if (f == nullptr) f = &none;
    j["newestFirmware"] = VersionText(f->newestFirmware);
    j["newestLogic"] = VersionText(f->newestLogic);
    j["updateAvailable"] = f->offer == UpdateOffer::Offered;
    if (f->offer == UpdateOffer::NoImages) {
      j["updateProblem"] = "no image files found";
      j["imageDirs"] = f->imageDirs;
    }
  }
};

}  // namespace

const HelpPage kInfoPage = {
    "info", "show a probe's versions, serial number and MAC address",
    "vantalink-cli info [GLOBAL OPTIONS]",
    "Connects as the Connect button does and prints the loader, firmware and logic versions "
    "(N.NN, or \"unknown\"), the serial number and the MAC address, beside the newest firmware "
    "(VT7PP4FW.nnn) and logic (PP4JEDK0.nnn) images (see update for where they are looked for), "
    "and whether Update would be offered.\n\n"
    "--json prints one JSON object for one probe and an array of them for several.",
    "vantalink-cli info --port COM1\n"
    "vantalink-cli info --ports COM1,COM2 --json"};

std::unique_ptr<CliCommand> MakeInfo() {
  return std::make_unique<Info>();
}

}  // namespace vanta::cli
