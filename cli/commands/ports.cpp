// ports: the COM names, what each stands for, and --map / --unmap of their links.
#include "platform/ports.h"

#include <cstdio>

#include "cli/commands/command.h"
#include "cli/output.h"

namespace vanta::cli {
namespace {

class Ports : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("--map", map_, "point COMn at DEVICE")
        ->expected(2)
        ->option_text("COMn DEVICE");
    command.add_option("--unmap", unmap_, "remove the link COMn")->option_text("COMn");
  }

  Failure Check(const CheckContext&) override {
    if (!map_.empty() && ComNameNumber(map_[0]) < 1) {
      return UsageFailure("--map takes COMn and a device, e.g. --map COM5 /dev/ttyUSB0");
    }
    if (!unmap_.empty() && ComNameNumber(unmap_) < 1) return UsageFailure("--unmap takes COMn");
    return Failure::None();
  }

  ExitStatus RunAlone(const JobSettings&, Console&, bool, bool json) override {
    if (!map_.empty()) {
      const int number = ComNameNumber(map_[0]);
      std::string error;
      if (!MapPort(number, map_[1], error)) {
        ProgramMessage(error);
        return EXIT_OTHER;
      }
      std::printf("COM%d -> %s (%s)\n", number, map_[1].c_str(),
                  (PortLinkDirectory() + "COM" + std::to_string(number)).c_str());
      return EXIT_OK;
    }
    if (!unmap_.empty()) {
      const int number = ComNameNumber(unmap_);
      UnmapPort(number);
      std::printf("COM%d unmapped: it stands for %s again\n", number,
                  ResolvePortDevice("COM" + std::to_string(number)).c_str());
      return EXIT_OK;
    }
    nlohmann::json list = nlohmann::json::array();
    for (int number = 1; number <= kPortCount; ++number) {
      const std::string name = "COM" + std::to_string(number);
      const std::string device = ResolvePortDevice(name);
      const bool exists = PortDeviceExists(device);
      const bool mapped = IsPortMapped(number);
      if (json) {
        list.push_back(
            {{"port", name}, {"device", device}, {"exists", exists}, {"mapped", mapped}});
      } else {
        std::printf("%-6s %-28s %-8s%s\n", name.c_str(), device.c_str(),
                    exists ? "exists" : "missing", mapped ? "  (mapped)" : "");
      }
    }
    if (json) std::printf("%s\n", JsonText(list, 2).c_str());
    return EXIT_OK;
  }

 private:
  std::vector<std::string> map_;
  std::string unmap_;
};

}  // namespace

const HelpPage kPortsPage = {"ports", "list the COM names and map them to devices",
                             "vantalink-cli ports [--map COMn DEVICE | --unmap COMn] [--json]",
                             ThisHostHelp().portsDescription, ThisHostHelp().portsExamples};

std::unique_ptr<CliCommand> MakePorts() {
  return std::make_unique<Ports>();
}

}  // namespace vanta::cli
