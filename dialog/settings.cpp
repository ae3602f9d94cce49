#include "dialog/settings.h"

#include "platform/files.h"

namespace vanta {

namespace {

constexpr const char* kDefaultProbeIp = "111.111.111.111";
constexpr const char* kDefaultSubnet = "255.255.255.0";
constexpr const char* kDefaultGateway = "255.255.255.255";
constexpr const char* kDefaultHostIp = "111.111.111.111";

}  // namespace

std::string SettingsFilePath() {
  return UserConfigDirectory() + "/" + kSettingsOrganisation + "/" + kSettingsApplication + ".conf";
}

void LoadSettings(SettingsStore& store, DialogFields& fields) {
  const std::string section = kSettingsSection;
  fields.speedIndex = store.ReadInt(section, "Baudrate", 0);
  fields.portIndex = store.ReadInt(section, "ComPort", 0);
  fields.probeIpText = store.ReadText(section, "VantaIP", kDefaultProbeIp);
  fields.subnetMaskText = store.ReadText(section, "Subnet", kDefaultSubnet);
  fields.gatewayText = store.ReadText(section, "Gateway", kDefaultGateway);
  fields.configHostText = store.ReadText(section, "HostIP", kDefaultHostIp);
  fields.configFileText = store.ReadText(section, "ConfigFile", "");
}

void SaveSettings(SettingsStore& store, const DialogFields& fields) {
  // Each write's report is ignored on purpose: one failed key must not keep the others unsaved.
  const std::string section = kSettingsSection;
  store.WriteInt(section, "Baudrate", fields.speedIndex);
  store.WriteInt(section, "ComPort", fields.portIndex);
  store.WriteText(section, "VantaIP", fields.probeIpText);
  store.WriteText(section, "Subnet", fields.subnetMaskText);
  store.WriteText(section, "Gateway", fields.gatewayText);
  store.WriteText(section, "HostIP", fields.configHostText);
  store.WriteText(section, "ConfigFile", fields.configFileText);
}

}  // namespace vanta
