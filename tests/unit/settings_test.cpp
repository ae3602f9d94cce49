// The seven persisted settings: keys, order, types and defaults, over an in-memory store.
#include "dialog/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vanta {
namespace {

// Keeps values in memory and records every call as "read|write int|text section/key".
class RecordingStore : public SettingsStore {
 public:
  int32_t ReadInt(const std::string& section, const std::string& key, int32_t fallback) override {
    calls.push_back("read int " + section + "/" + key);
    const auto it = ints.find(key);
    return it == ints.end() ? fallback : it->second;
  }
  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& fallback) override {
    calls.push_back("read text " + section + "/" + key);
    const auto it = texts.find(key);
    return it == texts.end() ? fallback : it->second;
  }
  bool WriteInt(const std::string& section, const std::string& key, int32_t value) override {
    calls.push_back("write int " + section + "/" + key);
    if (refused.count(key) != 0) return false;
    ints[key] = value;
    return true;
  }
  bool WriteText(const std::string& section, const std::string& key,
                 const std::string& value) override {
    calls.push_back("write text " + section + "/" + key);
    if (refused.count(key) != 0) return false;
    texts[key] = value;
    return true;
  }

  std::map<std::string, int32_t> ints;
  std::map<std::string, std::string> texts;
  std::set<std::string> refused;
  std::vector<std::string> calls;
};

TEST(LoadSettings, EmptyStoreGivesTheDefaultsReadInOrder) {
  RecordingStore store;
  DialogFields fields;
  LoadSettings(store, fields);
  EXPECT_EQ(fields.speedIndex, 0);
  EXPECT_EQ(fields.portIndex, 0);
  EXPECT_EQ(fields.setup.probeIpText, "111.111.111.111");
  EXPECT_EQ(fields.setup.subnetMaskText, "255.255.255.0");
  EXPECT_EQ(fields.setup.gatewayText, "255.255.255.255");
  EXPECT_EQ(fields.setup.configHostText, "111.111.111.111");
  EXPECT_EQ(fields.setup.configFileText, "");
  const std::vector<std::string> expected = {
      "read int Vanta7 PPC4xx/Baudrate",    "read int Vanta7 PPC4xx/ComPort",
      "read text Vanta7 PPC4xx/VantaIP",    "read text Vanta7 PPC4xx/Subnet",
      "read text Vanta7 PPC4xx/Gateway",    "read text Vanta7 PPC4xx/HostIP",
      "read text Vanta7 PPC4xx/ConfigFile",
  };
  EXPECT_EQ(store.calls, expected);
}

TEST(LoadSettings, StoredValuesReachTheirFieldsUnchecked) {
  RecordingStore store;
  store.ints = {{"Baudrate", 4}, {"ComPort", 25}};
  store.texts = {{"VantaIP", "not an address"},
                 {"Subnet", "1"},
                 {"Gateway", "2"},
                 {"HostIP", "3"},
                 {"ConfigFile", "c.cfg"}};
  DialogFields fields;
  LoadSettings(store, fields);
  EXPECT_EQ(fields.speedIndex, 4);
  EXPECT_EQ(fields.portIndex, 25);  // out of range: the list will show no selection
  EXPECT_EQ(fields.setup.probeIpText, "not an address");
  EXPECT_EQ(fields.setup.subnetMaskText, "1");
  EXPECT_EQ(fields.setup.gatewayText, "2");
  EXPECT_EQ(fields.setup.configHostText, "3");
  EXPECT_EQ(fields.setup.configFileText, "c.cfg");
}

TEST(SaveSettings, WritesTheSevenKeysInOrderWithTheirTypes) {
  RecordingStore store;
  DialogFields fields;
  fields.speedIndex = 3;
  fields.portIndex = -1;
  fields.setup.probeIpText = "192.168.1.10";
  fields.setup.subnetMaskText = "255.255.255.0";
  fields.setup.gatewayText = "192.168.1.1";
  fields.setup.configHostText = "255.255.255.255";
  fields.setup.configFileText = "/tmp/probe.cfg";
  SaveSettings(store, fields);
  const std::vector<std::string> expected = {
      "write int Vanta7 PPC4xx/Baudrate",    "write int Vanta7 PPC4xx/ComPort",
      "write text Vanta7 PPC4xx/VantaIP",    "write text Vanta7 PPC4xx/Subnet",
      "write text Vanta7 PPC4xx/Gateway",    "write text Vanta7 PPC4xx/HostIP",
      "write text Vanta7 PPC4xx/ConfigFile",
  };
  EXPECT_EQ(store.calls, expected);
  EXPECT_EQ(store.ints["Baudrate"], 3);
  EXPECT_EQ(store.ints["ComPort"], -1);
  EXPECT_EQ(store.texts["HostIP"], "255.255.255.255");
  EXPECT_EQ(store.texts["ConfigFile"], "/tmp/probe.cfg");
}

TEST(SaveSettings, AFailedWriteIsSkippedAndTheRestStillMade) {
  RecordingStore store;
  store.refused = {"ComPort", "VantaIP"};
  DialogFields fields;
  fields.speedIndex = 1;
  fields.portIndex = 5;
  fields.setup.configFileText = "x";
  SaveSettings(store, fields);
  EXPECT_EQ(store.calls.size(), 7u);
  EXPECT_EQ(store.ints.count("ComPort"), 0u);
  EXPECT_EQ(store.ints["Baudrate"], 1);
  EXPECT_EQ(store.texts["ConfigFile"], "x");
}

}  // namespace
}  // namespace vanta
