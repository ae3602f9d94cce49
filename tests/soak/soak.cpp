// vanta7-soak: every flow of the window against the virtual probe under a bad line, a probe that
// falls silent or hangs up, and loader status failures. Each run must end within the time its own
// waits allow, report its outcome honestly, and on success leave the probe's flash and logic
// holding exactly what was asked. Prints a table; exits 1 on any silent corruption or hang.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dialog/dialog_controller.h"
#include "link/loader.h"
#include "platform/ports.h"
#include "sim/virtual_probe.h"
#include "tests/soak/soak_support.h"
#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"

namespace vanta::soak {
namespace {

using Clock = std::chrono::steady_clock;

enum class Flow { Connect, Update, Erase, Transmit };
enum class Fault {
  Clean,
  Corrupt,
  Drop,
  Noise,
  Silent,
  HangUp,
  Status,
  BadReply,
  RequestCorrupt,
  SlowProbe,
  BadWrite,
  PortOverrun
};

const char* FlowName(Flow flow) {
  switch (flow) {
    case Flow::Connect:
      return "connect";
    case Flow::Update:
      return "update";
    case Flow::Erase:
      return "erase";
    case Flow::Transmit:
      return "transmit";
  }
  return "?";
}

struct Scenario {
  Flow flow;
  Fault fault;
  double rate = 0;  // line faults only
  std::string name;
};

std::string RateText(double rate) {
  char text[16];
  std::snprintf(text, sizeof text, rate < 0.01 ? "%.1f%%" : "%.0f%%", rate * 100);
  return text;
}

std::vector<Scenario> AllScenarios(bool requestFaults, bool slowProbe) {
  std::vector<Scenario> list;
  const double rates[] = {0.001, 0.01, 0.05};
  for (Flow flow : {Flow::Connect, Flow::Update, Flow::Erase, Flow::Transmit}) {
    const std::string base = FlowName(flow);
    list.push_back({flow, Fault::Clean, 0, base + "/clean"});
    for (double rate : rates)
      list.push_back({flow, Fault::Corrupt, rate, base + "/corrupt-" + RateText(rate)});
    for (double rate : rates)
      list.push_back({flow, Fault::Drop, rate, base + "/drop-" + RateText(rate)});
    for (double rate : rates)
      list.push_back({flow, Fault::Noise, rate, base + "/noise-" + RateText(rate)});
    list.push_back({flow, Fault::Silent, 0, base + "/silent-from-N"});
    list.push_back({flow, Fault::HangUp, 0, base + "/hang-up-after-N"});
    // Connect erases and programs nothing.
    if (flow != Flow::Connect) list.push_back({flow, Fault::Status, 0, base + "/status-failure"});
    list.push_back({flow, Fault::BadReply, 0, base + "/bad-reply"});
    // Busy times around the tool's own time-outs; Connect waits for no operation.
    if (slowProbe && flow != Flow::Connect) {
      list.push_back({flow, Fault::SlowProbe, 0, base + "/slow-probe"});
    }
    if (requestFaults) {
      for (double rate : rates) {
        list.push_back(
            {flow, Fault::RequestCorrupt, rate, base + "/request-corrupt-" + RateText(rate)});
      }
    }
  }
  return list;
}

// Files every run reads: the images on disk and a stand-alone configuration with two register
// files. Written once, read-only afterwards.
struct Fixture {
  test::ImageTempDir configHome;
  test::ImageTempDir images;
  test::FirmwareImage firmware;
  test::JedecImage logic0, logic1;  // PP4JEDK0 and PP4JEDK1 differ, so a wrong choice shows
  std::string configPath;
  std::vector<uint8_t> configBytes;
  std::vector<uint8_t> registerImage;
  static constexpr uint8_t kFirmwareVersion = 7;
  static constexpr uint16_t kLogicVersion = 8;
  static constexpr uint8_t kOldFirmwareVersion = 3;
  static constexpr uint16_t kOldLogicVersion = 4;

  bool Create() {
    if (configHome.Path().empty() || images.Path().empty()) return false;
    setenv("XDG_CONFIG_HOME", configHome.Path().c_str(), 1);
    test::FirmwareParams fw;
    fw.version = kFirmwareVersion;
    fw.size = 4096;
    fw.recordLength = 32;
    firmware = test::MakeFirmwareImage(fw);
    test::JedecParams j0;
    j0.version = kLogicVersion;
    j0.seed = 7;
    logic0 = test::MakeJedecImage(j0);
    test::JedecParams j1 = j0;
    j1.seed = 1234;
    logic1 = test::MakeJedecImage(j1);
    bool ok = test::WriteTextFile(images.File(test::ImageFileName("VT7PP4FW", kFirmwareVersion)),
                                  firmware.text) &&
              test::WriteTextFile(images.File(test::ImageFileName("PP4JEDK0", kLogicVersion)),
                                  logic0.text) &&
              test::WriteTextFile(images.File(test::ImageFileName("PP4JEDK1", kLogicVersion)),
                                  logic1.text);

    // Register files of binary bytes; the second named relative to the configuration file.
    std::mt19937 rng(42);
    std::string regsA(1500, '\0'), regsB(700, '\0');
    for (char& c : regsA) c = static_cast<char>(rng());
    for (char& c : regsB) c = static_cast<char>(rng());
    ok = ok && test::WriteTextFile(images.File("regs_a.def"), regsA) &&
         test::WriteTextFile(images.File("regs_b.def"), regsB);
    std::string config = "[GENERAL]\nNAME soak\n";
    for (int i = 0; i < 60; ++i) config += "; filler line " + std::to_string(i) + " of the soak\n";
    config += "[REGS]\nFILE " + images.File("regs_a.def") + "\n#2 FILE $regs_b.def\n";
    configPath = images.File("soak.cfg");
    ok = ok && test::WriteTextFile(configPath, config);
    configBytes.assign(config.begin(), config.end());
    registerImage.push_back(0x80);
    registerImage.insert(registerImage.end(), regsA.begin(), regsA.end());
    registerImage.push_back(0x82);
    registerImage.insert(registerImage.end(), regsB.begin(), regsB.end());
    return ok;
  }
};

// What one flow is expected to do, from a clean calibration run: loader commands and bytes sent.
struct FlowSize {
  uint32_t commands = 0;
  uint64_t bytesIn = 0;
};

enum class Verdict { Passed, Failed, Corrupt, Hang, Late, SetupError };

struct RunResult {
  Verdict verdict = Verdict::SetupError;
  std::string detail;
  double seconds = 0;
  int64_t worstOverrunMs = 0;
};

struct RunPlan {
  const Scenario* scenario;
  uint32_t seed;
  int comNumber;  // the worker's own COMn
  bool reportCalibration = false;
  bool trace = false;
};

// Everything one run owns; kept on the heap so that a run whose flow never returns can be left
// behind without freeing what its thread still uses.
struct Run {
  RunPlan plan;
  const Fixture& fixture;
  std::mt19937 rng;
  std::unique_ptr<sim::VirtualProbe> probe;
  test::RecordingView view;
  FaultyPort* port = nullptr;  // owned by the controller's link
  std::unique_ptr<DialogController> controller;
  TimeoutWatch watch;
  std::vector<uint8_t> flashBefore;
  std::vector<std::string> rowsBefore;
  std::string uesBefore;
  bool standAlone = false;
  SetupTexts setup;
  std::string serial;
  uint16_t loaderVersion = 0;
  uint16_t probeFirmware = Fixture::kOldFirmwareVersion;  // versions the probe holds at the start
  uint16_t probeLogic = Fixture::kOldLogicVersion;
  uint32_t commandsAtArm = 0;
  uint64_t bytesAtArm = 0;
  FlowOutcome outcome;  // set by the flow's thread before finished
  std::atomic<bool> finished{false};

  Run(RunPlan s, const Fixture& f) : plan(s), fixture(f), rng(s.seed) {}
  uint32_t Pick(uint32_t below) { return below == 0 ? 0 : static_cast<uint32_t>(rng() % below); }
};

// A random serial number: 8 digits, or 10 characters whose last one is 'C' (the other logic
// image) or a digit.
std::string RandomSerial(std::mt19937& rng) {
  const int kind = static_cast<int>(rng() % 3);
  std::string serial;
  const int length = kind == 0 ? 8 : 10;
  for (int i = 0; i < length; ++i) serial.push_back(static_cast<char>('0' + rng() % 10));
  if (kind == 1) serial.back() = 'C';
  return serial;
}

std::string RandomAddress(std::mt19937& rng, int first) {
  return std::to_string(first) + "." + std::to_string(rng() % 256) + "." +
         std::to_string(rng() % 256) + "." + std::to_string(1 + rng() % 254);
}

bool PrepareProbe(Run& run) {
  sim::ProbeOptions options;
  options.seed = run.plan.seed;
  options.repeatRedoesWork = (run.rng() & 1) != 0;
  run.serial = RandomSerial(run.rng);
  options.serialNumber = run.serial;
  run.loaderVersion = static_cast<uint16_t>(1 + run.Pick(255));
  options.loaderVersion = run.loaderVersion;
  run.probe = std::make_unique<sim::VirtualProbe>(options);
  if (!run.probe->Start()) return false;
  sim::VirtualProbe& probe = *run.probe;
  // An older firmware and logic, a setup block and a configuration: all of it visible in flash,
  // so a stray erase or write shows. An update finds one of the two already current in a third
  // of its runs each, so that it writes only the other.
  const Fault fault = run.plan.scenario->fault;
  if (run.plan.scenario->flow == Flow::Update && fault != Fault::BadWrite &&
      fault != Fault::PortOverrun) {
    const uint32_t variant = run.Pick(3);
    if (variant == 1) run.probeFirmware = Fixture::kFirmwareVersion;
    if (variant == 2) run.probeLogic = Fixture::kLogicVersion;
  }
  probe.InstallFirmwareVersion(static_cast<uint8_t>(run.probeFirmware));
  probe.ProgramFlash(0x01080000, Pattern(3000, 5));
  probe.ProgramFlash(SETUP_SECTOR, Pattern(104, 1));
  probe.ProgramFlash(0x0100C000, Pattern(600, 9));
  probe.ProgramFlash(0x01010000, Pattern(900, 11));
  probe.ProgramFlash(CONFIG_SECTOR, Pattern(2000, 2));
  probe.ProgramFlash(REGISTER_IMAGE_AREA, Pattern(500, 3));
  probe.InstallLogicVersion(run.probeLogic);
  std::string error;
  return MapPort(run.plan.comNumber, probe.DevicePath(), error);
}

// Programs a few logic rows over the open link, so that an erase of the logic, or a stray one,
// shows in the rows as well as in the UES.
bool ProgramSomeLogicRows(Run& run) {
  ProbeLink& link = run.controller->Link();
  std::string row(kFusesPerRow, '1');
  for (size_t i = 0; i < row.size(); i += 3) row[i] = '0';
  bool ok = EnterLogicAccess(link) == RESULT_OK;
  for (int r : {0, 77, kFuseRows - 1}) {
    ok = ok && ProgramLogicRow(link, static_cast<uint8_t>(r), row) == RESULT_OK;
  }
  return LeaveLogicAccess(link) == RESULT_OK && ok;
}

void OpenController(Run& run) {
  auto port = std::make_unique<FaultyPort>(MakePosixSerialPort(), run.plan.seed ^ 0x9E3779B9u);
  run.port = port.get();
  auto link = std::make_unique<ProbeLink>(std::move(port));
  run.controller = std::make_unique<DialogController>(run.view, std::move(link),
                                                      ImageDirectories{run.fixture.images.Path()});
  run.controller->Link().SetObserver(&run.watch);
  run.controller->Firmware().mergeRecords = (run.rng() & 1) != 0;  // --fast as well
  DialogFields& f = run.controller->Fields();
  f.portIndex = run.plan.comNumber - 1;
  f.speedIndex = 4;
  f.setup.probeIpText = RandomAddress(run.rng, 192);
  f.setup.subnetMaskText = "255.255.255.0";
  f.setup.gatewayText = RandomAddress(run.rng, 10);
  run.standAlone = (run.rng() & 1) != 0;
  f.setup.configHostText = run.standAlone ? "255.255.255.255" : RandomAddress(run.rng, 172);
  f.setup.configFileText = run.standAlone ? run.fixture.configPath : "boot/vanta7.cfg";
  run.setup = f.setup;
  run.controller->OnOpen();
}

void ArmFaults(Run& run, const FlowSize& size) {
  sim::FaultKnobs& knobs = run.probe->Faults();
  const Scenario& s = *run.plan.scenario;
  run.commandsAtArm = static_cast<uint32_t>(run.probe->CommandLog().size());
  run.bytesAtArm = run.probe->GetCounters().bytesIn;
  switch (s.fault) {
    case Fault::Clean:
      break;
    case Fault::Corrupt:
      knobs.corruptRate = s.rate;
      break;
    case Fault::Drop:
      knobs.dropRate = s.rate;
      break;
    case Fault::Noise:
      knobs.insertRate = s.rate;
      knobs.noiseBeforeFrame = run.Pick(4);
      break;
    case Fault::Silent:
      knobs.silentFromCommand = static_cast<int32_t>(run.commandsAtArm + run.Pick(size.commands));
      break;
    case Fault::HangUp:
      knobs.hangUpAfterBytes =
          static_cast<int32_t>(1 + run.Pick(static_cast<uint32_t>(size.bytesIn)));
      break;
    case Fault::RequestCorrupt:
      run.port->SetCorruptRate(s.rate);
      break;
    case Fault::BadReply: {
      // One of the flow's commands answered with a wrong length or a wrong echo, or the next
      // replies with a header length that disagrees with the frame.
      static const std::vector<uint8_t> kCommands[4] = {
          {LDR_ENTER_LOADER, LDR_IDENTIFY},
          {LDR_ERASE_SECTOR, LDR_PROGRAM, LDR_LOGIC_ACCESS, LDR_LOGIC_DEVICE_TYPE, LDR_LOGIC_ERASE,
           LDR_LOGIC_PROGRAM_ROW, LDR_LOGIC_PROGRAM_UES, LDR_LOGIC_READ_ROW, LDR_LOGIC_READ_UES,
           LDR_ENTER_LOADER, LDR_IDENTIFY},
          {LDR_LOGIC_ACCESS, LDR_LOGIC_DEVICE_TYPE, LDR_LOGIC_ERASE, LDR_ERASE_SECTOR},
          {LDR_ENTER_LOADER, LDR_IDENTIFY, LDR_ERASE_SECTOR, LDR_PROGRAM, LDR_READ_MEMORY}};
      const std::vector<uint8_t>& commands = kCommands[static_cast<int>(s.flow)];
      const uint8_t code = commands[run.Pick(static_cast<uint32_t>(commands.size()))];
      const int which = static_cast<int>(run.Pick(3));
      if (which == 0) {
        knobs.wrongLengthCommand = code;
        knobs.wrongLengthDelta = run.Pick(2) ? 1 : -1;
      }
      if (which == 1) knobs.wrongEchoCommand = code;
      if (which == 2) knobs.wrongHeaderLengthOnce = static_cast<int32_t>(1 + run.Pick(3));
      break;
    }
    case Fault::SlowProbe: {
      // One kind of operation takes 0.8 to 1.2 times the tool's time-out for it at 115200 bit/s
      // (line time of the request and a largest reply, the command's own time, 200 ms).
      const double factor = 0.8 + 0.4 * static_cast<double>(run.Pick(1001)) / 1000.0;
      auto around = [factor](uint32_t requestBytes, uint32_t extraMs) {
        return static_cast<uint32_t>(factor *
                                     ((requestBytes + 1502) * 10000 / 115200 + extraMs + 200));
      };
      switch (run.Pick(4)) {
        case 0:
          knobs.eraseSectorBusyMs = around(5, 10000);
          break;
        case 1:
          knobs.programBusyMs = around(39, 1000);
          break;
        case 2:
          knobs.logicEraseBusyMs = around(1, 600);
          break;
        default:
          knobs.logicRowBusyMs = around(242, 300);
          break;
      }
      break;
    }
    case Fault::PortOverrun:  // silent behind the three erases, whose time-outs are long
      knobs.silentFromCommand = static_cast<int32_t>(run.commandsAtArm + 3 + run.Pick(100));
      run.port->SetReadOverrunMs(3000);
      break;
    case Fault::BadWrite:  // within the first writes of both the per-record and the merged run
      knobs.corruptProgramWrite = static_cast<int32_t>(run.Pick(4));
      break;
    case Fault::Status:
      switch (s.flow) {
        case Flow::Update: {
          const int which = static_cast<int>(run.Pick(4));
          if (which == 0) knobs.failEraseSector = 0x01040000 + 0x40000 * run.Pick(3);
          if (which == 1) knobs.failProgramSector = FIRMWARE_SECTOR;
          if (which == 2) knobs.failProgramAfterWrites = static_cast<int32_t>(run.Pick(130));
          if (which == 3) knobs.failLogicRow = static_cast<int32_t>(run.Pick(kFuseRows));
          break;
        }
        case Flow::Erase:
          knobs.failEraseSector = kAllSectors[run.Pick(6)];
          break;
        case Flow::Transmit: {
          const int which = static_cast<int>(run.Pick(3));
          if (which == 0) knobs.failEraseSector = run.Pick(2) ? CONFIG_SECTOR : SETUP_SECTOR;
          if (which == 1) knobs.failProgramSector = run.Pick(2) ? CONFIG_SECTOR : SETUP_SECTOR;
          if (which == 2) knobs.failProgramAfterWrites = static_cast<int32_t>(run.Pick(8));
          break;
        }
        case Flow::Connect:
          break;
      }
      break;
  }
}

// The knobs a run set, for its finding line ("failEraseSector=0x1040000 silentFromCommand=7").
std::string DescribeFaults(Run& run) {
  const sim::FaultKnobs& k = run.probe->Faults();
  std::string text;
  char item[64];
  auto add = [&text, &item](bool set, const char* format, auto value) {
    if (!set) return;
    std::snprintf(item, sizeof item, format, value);
    text += text.empty() ? "" : " ";
    text += item;
  };
  add(k.corruptRate > 0, "corruptRate=%g", k.corruptRate.load());
  add(k.dropRate > 0, "dropRate=%g", k.dropRate.load());
  add(k.insertRate > 0, "insertRate=%g", k.insertRate.load());
  add(k.noiseBeforeFrame > 0, "noiseBeforeFrame=%u", k.noiseBeforeFrame.load());
  add(k.silentFromCommand >= 0, "silentFromCommand=%d", k.silentFromCommand.load());
  add(k.hangUpAfterBytes >= 0, "hangUpAfterBytes=%d", k.hangUpAfterBytes.load());
  add(k.wrongLengthCommand >= 0, "wrongLengthCommand=%d", k.wrongLengthCommand.load());
  add(k.wrongLengthCommand >= 0, "wrongLengthDelta=%d", k.wrongLengthDelta.load());
  add(k.wrongEchoCommand >= 0, "wrongEchoCommand=%d", k.wrongEchoCommand.load());
  add(k.wrongHeaderLengthOnce > 0, "wrongHeaderLengthOnce=%d", k.wrongHeaderLengthOnce.load());
  add(k.failEraseSector >= 0, "failEraseSector=0x%llx",
      static_cast<unsigned long long>(k.failEraseSector.load()));
  add(k.failProgramSector >= 0, "failProgramSector=0x%llx",
      static_cast<unsigned long long>(k.failProgramSector.load()));
  add(k.failProgramAfterWrites >= 0, "failProgramAfterWrites=%d", k.failProgramAfterWrites.load());
  add(k.corruptProgramWrite >= 0, "corruptProgramWrite=%d", k.corruptProgramWrite.load());
  add(k.failLogicRow >= 0, "failLogicRow=%d", k.failLogicRow.load());
  add(k.eraseSectorBusyMs > 0, "eraseSectorBusyMs=%u", k.eraseSectorBusyMs.load());
  add(k.programBusyMs > 0, "programBusyMs=%u", k.programBusyMs.load());
  add(k.logicEraseBusyMs > 0, "logicEraseBusyMs=%u", k.logicEraseBusyMs.load());
  add(k.logicRowBusyMs > 0, "logicRowBusyMs=%u", k.logicRowBusyMs.load());
  if (run.port->CorruptRate() > 0) add(true, "requestCorruptRate=%g", run.port->CorruptRate());
  add(run.port->ReadOverrunMs() > 0, "readOverrunMs=%u", run.port->ReadOverrunMs());
  return text.empty() ? "no faults" : text;
}

void DisarmFaults(Run& run) {
  sim::FaultKnobs& knobs = run.probe->Faults();
  knobs.corruptRate = 0;
  knobs.dropRate = 0;
  knobs.insertRate = 0;
  knobs.noiseBeforeFrame = 0;
  knobs.silentFromCommand = -1;
  knobs.hangUpAfterBytes = -1;
  knobs.failEraseSector = -1;
  knobs.failProgramSector = -1;
  knobs.failProgramAfterWrites = -1;
  knobs.failLogicRow = -1;
  knobs.corruptProgramWrite = -1;
  knobs.wrongLengthCommand = -1;
  knobs.wrongEchoCommand = -1;
  knobs.wrongHeaderLengthOnce = 0;
  knobs.eraseSectorBusyMs = 0;
  knobs.programBusyMs = 0;
  knobs.logicEraseBusyMs = 0;
  knobs.logicRowBusyMs = 0;
  run.port->SetCorruptRate(0);
  run.port->SetReadOverrunMs(0);
}

FlowOutcome RunFlow(Run& run) {
  switch (run.plan.scenario->flow) {
    case Flow::Connect:
      return run.controller->OnConnect();
    case Flow::Update:
      return run.controller->OnUpdate();
    case Flow::Erase:
      return run.controller->OnErase();
    case Flow::Transmit:
      return run.controller->OnTransmit();
  }
  return FlowOutcome::Failed(FlowStage::None);
}

// What flash and logic must hold after a successful flow, built from the state before it.
struct Expected {
  std::vector<uint8_t> flash;
  std::vector<std::string> rows;
  std::string ues;
  uint16_t firmwareVersion = 0;
  uint16_t logicVersion = 0;
};

Expected ExpectedAfterSuccess(const Run& run) {
  Expected e{run.flashBefore, run.rowsBefore, run.uesBefore, run.probeFirmware, run.probeLogic};
  auto fill = [&e](uint32_t from, uint32_t to, uint8_t value) {
    std::fill(e.flash.begin() + (from - sim::kFlashBase), e.flash.begin() + (to - sim::kFlashBase),
              value);
  };
  auto put = [&e](uint32_t at, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), e.flash.begin() + (at - sim::kFlashBase));
  };
  const Fixture& fx = run.fixture;
  switch (run.plan.scenario->flow) {
    case Flow::Connect:
      break;
    case Flow::Update: {
      if (run.probeFirmware != Fixture::kFirmwareVersion) {
        fill(FIRMWARE_SECTOR, sim::kFlashBase + sim::kFlashSize, 0xFF);
        put(fx.firmware.address, test::ExpectedFlash(fx.firmware));
      }
      if (run.probeLogic != Fixture::kLogicVersion) {
        const bool c = run.serial.size() == 10 && run.serial[9] == 'C';
        e.rows = c ? fx.logic1.rows : fx.logic0.rows;
        e.ues = UesBits("B6001E9" + ThreeDigits(Fixture::kLogicVersion));
      }
      e.firmwareVersion = Fixture::kFirmwareVersion;
      e.logicVersion = Fixture::kLogicVersion;
      break;
    }
    case Flow::Erase:
      fill(SETUP_SECTOR, sim::kFlashBase + sim::kFlashSize, 0xFF);
      e.rows.assign(kFuseRows, std::string(kFusesPerRow, '1'));
      e.ues.assign(kUesBits, '1');
      e.firmwareVersion = 0;
      e.logicVersion = 0;
      break;
    case Flow::Transmit:
      fill(SETUP_SECTOR, SETUP_SECTOR + 0x4000, 0xFF);
      put(SETUP_SECTOR, ExpectedSetupBlock(run.serial, run.setup));
      fill(CONFIG_SECTOR, sim::kFlashBase + sim::kFlashSize, 0xFF);
      if (run.standAlone) {
        put(CONFIG_SECTOR, fx.configBytes);
        put(REGISTER_IMAGE_AREA, fx.registerImage);
      }
      break;
  }
  return e;
}

// The first difference between two flash images, as text; "" when equal.
std::string FlashDifference(const std::vector<uint8_t>& want, const std::vector<uint8_t>& have) {
  auto [a, b] = std::mismatch(want.begin(), want.end(), have.begin(), have.end());
  if (a == want.end() && b == have.end()) return "";
  char text[96];
  const size_t offset = static_cast<size_t>(a - want.begin());
  std::snprintf(text, sizeof text, "flash at 0x%08zX holds %02X, expected %02X",
                sim::kFlashBase + offset, b == have.end() ? 0 : *b, a == want.end() ? 0 : *a);
  return text;
}

std::string CheckPassed(Run& run) {
  const Expected e = ExpectedAfterSuccess(run);
  const std::vector<uint8_t> flash = run.probe->ReadFlash(sim::kFlashBase, sim::kFlashSize);
  std::string difference = FlashDifference(e.flash, flash);
  if (!difference.empty()) return difference;
  if (run.probe->LogicRows() != e.rows) return "logic rows differ from what was asked";
  if (run.probe->LogicUes() != e.ues) return "logic UES differs from what was asked";
  // What the window shows must be what the probe holds.
  const DeviceIdentity& id = run.controller->Fields().identity;
  // An identity reply of a wrong length reads as versions unknown (0): no false claim.
  const bool unknownAllowed = run.plan.scenario->fault == Fault::BadReply;

  const Flow flow = run.plan.scenario->flow;
  if (flow == Flow::Connect || flow == Flow::Update) {
    if (id.loaderVersion != run.loaderVersion && !(unknownAllowed && id.loaderVersion == 0)) {
      return "loader version shown wrong";
    }
    if (id.serialNumber != run.serial) return "serial number shown wrong: " + id.serialNumber;
    if (run.view.controls.serialNumber != run.serial) return "SN label wrong";
  }
  const bool firmwareOk =
      id.firmwareVersion == e.firmwareVersion || (unknownAllowed && id.firmwareVersion == 0);
  const bool logicOk =
      id.logicVersion == e.logicVersion || (unknownAllowed && id.logicVersion == 0);
  if (!firmwareOk || !logicOk) {
    return "versions shown " + std::to_string(id.firmwareVersion) + "/" +
           std::to_string(id.logicVersion) + ", probe holds " + std::to_string(e.firmwareVersion) +
           "/" + std::to_string(e.logicVersion);
  }
  if (run.view.waitDepth != 0) return "wait cursor left on";
  return "";
}

// After a failure nothing outside the flow's own area may have changed, and a firmware marker may
// only stand in front of a whole image: a probe must never boot half a firmware.
std::string CheckFailed(Run& run) {
  const std::vector<uint8_t> flash = run.probe->ReadFlash(sim::kFlashBase, sim::kFlashSize);
  uint32_t ownFrom = 0, ownTo = 0;  // the area the flow may have changed
  switch (run.plan.scenario->flow) {
    case Flow::Connect:
      break;
    case Flow::Update:
      ownFrom = FIRMWARE_SECTOR, ownTo = sim::kFlashBase + sim::kFlashSize;
      break;
    case Flow::Erase:
      ownFrom = SETUP_SECTOR, ownTo = sim::kFlashBase + sim::kFlashSize;
      break;
    case Flow::Transmit:
      ownFrom = SETUP_SECTOR, ownTo = sim::kFlashBase + sim::kFlashSize;  // setup and config
      break;
  }
  for (size_t i = 0; i < flash.size(); ++i) {
    const uint32_t address = static_cast<uint32_t>(sim::kFlashBase + i);
    if (address >= ownFrom && address < ownTo) continue;
    if (run.plan.scenario->flow == Flow::Transmit && address >= 0x0100C000 &&
        address < CONFIG_SECTOR) {
      if (flash[i] != run.flashBefore[i]) return "a failed Transmit changed a sector it never uses";
    } else if (flash[i] != run.flashBefore[i]) {
      return "a failed flow changed flash outside its area";
    }
  }
  if (run.plan.scenario->flow == Flow::Update && run.probe->StoredFirmwareVersion() != 0) {
    const std::vector<uint8_t> image = test::ExpectedFlash(run.fixture.firmware);
    const size_t at = run.fixture.firmware.address - sim::kFlashBase;
    const bool whole = std::equal(image.begin(), image.end(), flash.begin() + at);
    const bool untouched =
        std::equal(flash.begin() + (FIRMWARE_SECTOR - sim::kFlashBase),
                   flash.begin() + (CONFIG_SECTOR - sim::kFlashBase),
                   run.flashBefore.begin() + (FIRMWARE_SECTOR - sim::kFlashBase));
    if (!whole && !untouched) return "a failed update left a marker in front of a broken image";
  }
  if (run.view.waitDepth != 0) return "wait cursor left on";
  return "";
}

// Judged by the flow's outcome alone; the texts only go into the verbose listing.
RunResult Classify(Run& run) {
  const FlowOutcome& outcome = run.outcome;
  if (outcome.passed) {
    std::string problem = CheckPassed(run);
    if (!problem.empty()) return {Verdict::Corrupt, "reported success, but " + problem};
    return {Verdict::Passed, ""};
  }
  std::string problem = CheckFailed(run);
  if (!problem.empty()) return {Verdict::Corrupt, problem};
  // Where it stopped and what the user was told, for the verbose listing.
  std::string told = std::string(StageName(outcome.stage)) + " " + ResultName(outcome.code) + " ";
  for (const std::string& text : run.view.MessageTexts()) told += "[" + text + "] ";
  const auto& statuses = run.view.statuses;
  for (size_t i = statuses.size() >= 3 ? statuses.size() - 3 : 0; i < statuses.size(); ++i) {
    told += "\"" + statuses[i] + "\" ";
  }
  return {Verdict::Failed, told};
}

FlowSize g_flowSize[4];

// One run from start to end, with its watchdog. Returns nullptr-free: a hung run is leaked.
RunResult ExecuteRun(const RunPlan& plan, const Fixture& fixture, std::atomic<int>& stuckRuns) {
  Run* run = new Run(plan, fixture);
  RunResult result;
  auto cleanup = [run] {
    UnmapPort(run->plan.comNumber);
    run->controller.reset();
    if (run->probe) run->probe->Stop();
    delete run;
  };
  if (!PrepareProbe(*run)) {
    cleanup();
    return {Verdict::SetupError, "virtual probe could not start"};
  }
  OpenController(*run);
  const Flow flow = plan.scenario->flow;
  if (flow != Flow::Connect) {
    const FlowOutcome connect = run->controller->OnConnect();
    if (!connect.passed) {
      cleanup();
      return {Verdict::SetupError,
              std::string("clean connect failed: ") + ResultName(connect.code)};
    }
    if (!ProgramSomeLogicRows(*run)) {
      cleanup();
      return {Verdict::SetupError, "the logic rows could not be prepared"};
    }
  }
  run->flashBefore = run->probe->ReadFlash(sim::kFlashBase, sim::kFlashSize);
  run->rowsBefore = run->probe->LogicRows();
  run->uesBefore = run->probe->LogicUes();
  ArmFaults(*run, g_flowSize[static_cast<int>(flow)]);
  const std::string faults = DescribeFaults(*run);

  run->watch.Start(run->controller->Link().Speed());
  run->watch.SetTrace(plan.trace);
  const auto start = Clock::now();
  std::thread worker([run] {
    run->outcome = RunFlow(*run);
    run->watch.Finish();
    run->finished = true;
  });
  // Every wait of the link has its allowance; a flow that stays far past the current one is hung.
  constexpr int64_t kHangMs = 5000;
  constexpr int64_t kOverrunSlackMs = 500;  // scheduling on a loaded machine
  bool hung = false;
  while (!run->finished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!run->finished && run->watch.OverdueMs() > kHangMs) {
      hung = true;
      break;
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (hung) {
    std::string last = run->view.status;
    // Free the flow if a closed line can: the tool must then see the port gone.
    run->probe->HangUp();
    for (int i = 0; i < 300 && !run->finished; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!run->finished) {
      worker.detach();  // run stays allocated for the thread that never returned
      ++stuckRuns;
      return {Verdict::Hang,
              "[" + faults + "] still running after hang-up; last status \"" + last + "\"",
              result.seconds, kHangMs};
    }
    worker.join();
    DisarmFaults(*run);
    const int64_t overrun = run->watch.WorstOverrunMs();
    cleanup();
    return {Verdict::Hang,
            "[" + faults + "] waited far past a time-out; last status \"" + last + "\"",
            result.seconds, overrun};
  }
  worker.join();
  DisarmFaults(*run);
  if (plan.reportCalibration) {
    FlowSize& size = g_flowSize[static_cast<int>(flow)];
    size.commands = static_cast<uint32_t>(run->probe->CommandLog().size()) - run->commandsAtArm;
    size.bytesIn = run->probe->GetCounters().bytesIn - run->bytesAtArm;
  }
  RunResult verdict = Classify(*run);
  verdict.detail = "[" + faults + "] " + verdict.detail;
  verdict.seconds = result.seconds;
  verdict.worstOverrunMs = run->watch.WorstOverrunMs();
  if (verdict.verdict != Verdict::Corrupt && verdict.worstOverrunMs > kOverrunSlackMs) {
    verdict = {Verdict::Late, "[" + faults + "] a wait ran past its time-out", result.seconds,
               verdict.worstOverrunMs};
  }
  cleanup();
  return verdict;
}

struct Tally {
  int runs = 0, passed = 0, failed = 0, corrupt = 0, hang = 0, late = 0, setup = 0;
  double seconds = 0, longest = 0;
};

struct Options {
  int runs = 5;
  int jobs = 8;
  uint32_t seed = 1;
  std::string only;      // scenario name or prefix ("update/")
  int64_t runSeed = -1;  // one run with exactly this seed
  bool requestFaults = false;
  bool slowProbe = false;
  bool selfCheck = false;
  bool verbose = false;
  bool trace = false;
};

void Usage() {
  std::puts(
      "usage: vanta7-soak [--short | --long | --runs N] [--jobs N] [--seed S]\n"
      "                   [--scenario TEXT] [--run-seed S] [--request-faults]\n"
      "                   [--slow-probe] [--self-check] [-v] [--trace]\n"
      "  default 5 runs per scenario (about 3 minutes), --short 2, --long 100;\n"
      "  --request-faults adds corruption of the tool's own requests;\n"
      "  --slow-probe adds operations that take about as long as the tool waits for them;\n"
      "  --run-seed repeats one run of --scenario exactly (the finding lines print it);\n"
      "  --self-check proves the checks see a probe that stores a wrong bit and says ok.");
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vanta7-soak: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (a == "--short") {
      o.runs = 2;
    } else if (a == "--long") {
      o.runs = 100;
    } else if (a == "--runs" && (v = next("--runs"))) {
      o.runs = std::max(1, atoi(v));
    } else if (a == "--jobs" && (v = next("--jobs"))) {
      o.jobs = std::clamp(atoi(v), 1, 16);
    } else if (a == "--seed" && (v = next("--seed"))) {
      o.seed = static_cast<uint32_t>(strtoul(v, nullptr, 0));
    } else if (a == "--scenario" && (v = next("--scenario"))) {
      o.only = v;
    } else if (a == "--run-seed" && (v = next("--run-seed"))) {
      o.runSeed = static_cast<int64_t>(strtoul(v, nullptr, 0));
    } else if (a == "--request-faults") {
      o.requestFaults = true;
    } else if (a == "--slow-probe") {
      o.slowProbe = true;
    } else if (a == "--self-check") {
      o.selfCheck = true;
    } else if (a == "--trace") {
      o.trace = true;
    } else if (a == "-v" || a == "--verbose") {
      o.verbose = true;
    } else if (a == "-h" || a == "--help") {
      Usage();
      exit(0);
    } else {
      Usage();
      return false;
    }
  }
  return true;
}

uint32_t MixSeed(uint32_t seed, uint32_t scenario, uint32_t run) {
  uint64_t z = (uint64_t{seed} << 32) ^ (uint64_t{scenario} << 16) ^ run;
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>(z ^ (z >> 31));
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 2;
  Fixture fixture;
  if (!fixture.Create()) {
    std::fprintf(stderr, "vanta7-soak: cannot write the images\n");
    return 2;
  }
  // Where a flow's silence or hang-up may fall: the commands and bytes of a clean run.
  std::vector<Scenario> all =
      AllScenarios(options.requestFaults || options.only.find("request") != std::string::npos,
                   options.slowProbe || options.only.find("slow") != std::string::npos);
  if (options.selfCheck) {
    // A probe that answers a write with success but stores one bit wrong: the window's firmware
    // update does not read back, so every run that reports success must be caught here.
    // And a port whose reads overrun their time-outs while the probe has fallen silent: the
    // time-out watch must notice.
    all = {{Flow::Update, Fault::Clean, 0, "update/clean"},
           {Flow::Update, Fault::BadWrite, 0, "update/probe-stores-a-wrong-bit"},
           {Flow::Update, Fault::PortOverrun, 0, "update/port-overruns-its-time-outs"}};
    options.only = "update/p";
    options.runs = 4;
  }
  std::atomic<int> stuckRuns{0};
  for (const Scenario& s : all) {
    if (s.fault != Fault::Clean) continue;
    const RunResult r = ExecuteRun({&s, options.seed, 1, true}, fixture, stuckRuns);
    if (r.verdict != Verdict::Passed) {
      std::printf("calibration run of %s did not pass: %s\n", s.name.c_str(), r.detail.c_str());
      return 1;
    }
    if (options.verbose) {
      const FlowSize& size = g_flowSize[static_cast<int>(s.flow)];
      std::printf("%s: %u commands, %llu bytes to the probe\n", s.name.c_str(), size.commands,
                  static_cast<unsigned long long>(size.bytesIn));
    }
  }

  struct Job {
    size_t scenario;
    uint32_t seed;
  };
  std::deque<Job> jobs;
  for (size_t i = 0; i < all.size(); ++i) {
    const std::string& name = all[i].name;
    if (!options.only.empty() && name.find(options.only) == std::string::npos) continue;
    if (options.runSeed >= 0) {
      jobs.push_back({i, static_cast<uint32_t>(options.runSeed)});
      continue;
    }
    for (int r = 0; r < options.runs; ++r) {
      jobs.push_back(
          {i, MixSeed(options.seed, static_cast<uint32_t>(i), static_cast<uint32_t>(r))});
    }
  }
  // Long runs first (silence waits out every time-out, a bad line retries), so the workers
  // finish together.
  auto weight = [&all](const Job& j) {
    const Scenario& s = all[j.scenario];
    if (s.fault == Fault::Silent) return 0;
    return s.rate >= 0.05 ? 1 : 2;
  };
  std::stable_sort(jobs.begin(), jobs.end(),
                   [&weight](const Job& a, const Job& b) { return weight(a) < weight(b); });

  std::mutex mutex;
  std::vector<Tally> tallies(all.size());
  std::vector<std::string> findings;
  const auto start = Clock::now();
  auto worker = [&](int com) {
    for (;;) {
      Job job;
      {
        std::lock_guard lock(mutex);
        if (jobs.empty()) return;
        job = jobs.front();
        jobs.pop_front();
      }
      const Scenario& s = all[job.scenario];
      const RunResult r = ExecuteRun({&s, job.seed, com, false, options.trace}, fixture, stuckRuns);
      std::lock_guard lock(mutex);
      Tally& t = tallies[job.scenario];
      ++t.runs;
      t.seconds += r.seconds;
      t.longest = std::max(t.longest, r.seconds);
      const char* tag = nullptr;
      switch (r.verdict) {
        case Verdict::Passed:
          ++t.passed;
          break;
        case Verdict::Failed:
          ++t.failed;
          break;
        case Verdict::Corrupt:
          ++t.corrupt, tag = "SILENT CORRUPTION";
          break;
        case Verdict::Hang:
          ++t.hang, tag = "HANG";
          break;
        case Verdict::Late:
          ++t.late, tag = "OVER BUDGET";
          break;
        case Verdict::SetupError:
          ++t.setup, tag = "SETUP ERROR";
          break;
      }
      char line[512];
      std::snprintf(line, sizeof line,
                    "%s %s: %s (%.1f s, worst wait %+lld ms against its time-out)\n"
                    "  repeat: vanta7-soak --scenario %s --run-seed %u",
                    tag ? tag : "ok", s.name.c_str(), r.detail.c_str(), r.seconds,
                    static_cast<long long>(r.worstOverrunMs), s.name.c_str(), job.seed);
      if (tag != nullptr) findings.push_back(line);
      if (options.verbose || tag != nullptr) std::printf("%s\n", line);
      std::fflush(stdout);
    }
  };
  std::vector<std::thread> workers;
  for (int w = 0; w < options.jobs; ++w) workers.emplace_back(worker, w + 2);  // COM2 ...
  for (std::thread& t : workers) t.join();
  const double total = std::chrono::duration<double>(Clock::now() - start).count();

  std::printf("\n%-32s %5s %7s %7s %8s %5s %5s %8s\n", "scenario", "runs", "passed", "failed",
              "corrupt", "hangs", "late", "longest");
  Tally sum;
  for (size_t i = 0; i < all.size(); ++i) {
    const Tally& t = tallies[i];
    if (t.runs == 0) continue;
    std::printf("%-32s %5d %7d %7d %8d %5d %5d %7.1fs%s\n", all[i].name.c_str(), t.runs, t.passed,
                t.failed, t.corrupt, t.hang, t.late, t.longest, t.setup ? "  (setup errors)" : "");
    sum.runs += t.runs, sum.passed += t.passed, sum.failed += t.failed, sum.corrupt += t.corrupt;
    sum.hang += t.hang, sum.late += t.late, sum.setup += t.setup;
  }
  std::printf("%-32s %5d %7d %7d %8d %5d %5d\n", "total", sum.runs, sum.passed, sum.failed,
              sum.corrupt, sum.hang, sum.late);
  std::printf("%.0f s with %d workers, seed %u\n", total, options.jobs, options.seed);
  std::fflush(stdout);
  if (stuckRuns > 0) {
    std::printf("%d run(s) never returned; leaving without cleanup\n", stuckRuns.load());
    std::fflush(stdout);
    std::_Exit(1);
  }
  if (options.selfCheck) {
    // A wrong bit under the marker is ANDed away by it and rightly passes; the others must not.
    const bool wrongWrites = tallies[1].corrupt > 0;
    const bool overruns =
        tallies[2].runs > 0 && tallies[2].hang + tallies[2].late == tallies[2].runs;
    std::printf("self-check: wrong writes %s, overrun time-outs %s\n",
                wrongWrites ? "caught" : "NOT CAUGHT", overruns ? "caught" : "NOT CAUGHT");
    return wrongWrites && overruns ? 0 : 1;
  }
  return sum.corrupt + sum.hang + sum.late + sum.setup == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vanta::soak

int main(int argc, char** argv) {
  return vanta::soak::Main(argc, argv);
}
