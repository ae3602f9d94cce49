// vanta7-sim: the virtual Vanta7 probe as a program. Prints the pseudo-terminal's device path,
// optionally names it COMn for the tool's Port list, and serves until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <tuple>

#include "packaging/roff.h"
#include "platform/ports.h"
#include "sim/virtual_probe.h"

namespace {

using vanta::sim::FaultKnobs;
using vanta::sim::ProbeOptions;
using vanta::sim::VirtualProbe;

// "0x01040000", "16777216" or "0100" (octal) as strtoul reads them with base 0.
bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

struct Settings {
  int com = -1;
  std::string serial = "12345678";
  std::string loaderVersion = "102";
  int firmwareVersion = -1;
  int logicVersion = -1;
  int deviceType = 19;
  uint32_t speed = 9600;
  uint32_t topSpeed = 115200;
  uint32_t answerSpeed = 0;
  bool pace = false;
  bool redoRepeats = false;
  std::string flashFile;
  uint32_t seed = 1;
  bool verbose = false;

  double dropRate = 0, corruptRate = 0, insertRate = 0, requestCorruptRate = 0;
  double bitFlipRate = 0, requestBitFlipRate = 0;
  uint32_t noise = 0;
  int32_t silentFor = 0, silentFrom = -1, hangUpAfter = -1;
  bool silent = false;
  std::string wrongLength, wrongEcho;
  int32_t wrongLengthDelta = 1, wrongHeaderLength = 0;
  std::string failErase, failProgram;
  int32_t failProgramWrite = -1, corruptProgramWrite = -1, failLogicRow = -1;
  int32_t setSpeedReplyLength = 7;
  std::string eraseBusyFrom;
  uint32_t eraseBusy = 0, programBusy = 0, logicEraseBusy = 0, logicRowBusy = 0;
};

// A command code by number ("104", "0x68") or letter ("h").
bool ParseCommand(const std::string& text, int32_t& code) {
  if (text.size() == 1 && std::isalpha(static_cast<unsigned char>(text[0]))) {
    code = static_cast<unsigned char>(text[0]);
    return true;
  }
  uint64_t value = 0;
  if (!ParseNumber(text, value) || value > 255) return false;
  code = static_cast<int32_t>(value);
  return true;
}

// What --help says above the options, and the manual page's NAME line and DESCRIPTION.
constexpr const char* kSummary = "a virtual Vanta7 probe boot loader on a pseudo-terminal";
constexpr const char* kDescription =
    "Prints the device path to open, then serves until interrupted (Ctrl-C).";

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  CLI::App app{std::string("vanta7-sim: ") + kSummary + ".\n" + kDescription};
  app.get_formatter()->column_width(34);

  app.add_option("--com", s.com, "Also name the device COMn in the Port list")
      ->type_name("N")
      ->check(CLI::Range(0, 255));
  app.add_option("--serial", s.serial, "Serial number, 8 or 10 characters")
      ->check([](const std::string& v) {
        return v.size() == 8 || v.size() == 10 ? std::string() : "must have 8 or 10 characters";
      })
      ->capture_default_str();
  app.add_option("--loader-version", s.loaderVersion,
                 "Loader version word (default 102, shown as 1.02)")
      ->capture_default_str();
  app.add_option("--firmware-version", s.firmwareVersion,
                 "Install a firmware image of this version (1..255): 0x16nn behind the marker")
      ->check(CLI::Range(0, 255));
  app.add_option("--logic-version", s.logicVersion,
                 "Program the UES B6001E9nnn for this logic version (0..999)")
      ->check(CLI::Range(0, 999));
  app.add_option("--device-type", s.deviceType, "ispLSI device type the loader reports")
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  app.add_option("--speed", s.speed, "Line speed after reset, bit/s")
      ->check(CLI::Range(50u, 4000000u))
      ->capture_default_str();
  app.add_option("--top-speed", s.topSpeed, "Highest speed agreed to in LINK_SET_SPEED")
      ->check(CLI::Range(50u, 4000000u))
      ->capture_default_str();
  app.add_option("--answer-speed", s.answerSpeed,
                 "Answer every LINK_SET_SPEED with this speed instead of the one asked");
  app.add_flag("--pace", s.pace, "Each byte takes ten bit times at the line speed");
  app.add_flag("--redo-repeats", s.redoRepeats,
               "A repeated request is carried out again (default: the cached reply is resent)");
  app.add_option("--flash", s.flashFile, "Load the 1 MiB flash image from FILE, save it on exit")
      ->type_name("FILE");
  app.add_option("--seed", s.seed, "Seed of the random faults")->capture_default_str();
  app.add_flag("-v,--verbose", s.verbose, "Log every message on stderr");

  const char* faults = "Faults";
  app.add_option("--drop-rate", s.dropRate, "Drop sent bytes at this rate (0..1)")
      ->group(faults)
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--corrupt-rate", s.corruptRate, "Change sent bytes at this rate (0..1)")
      ->group(faults)
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--insert-rate", s.insertRate, "Insert random bytes at this rate (0..1)")
      ->group(faults)
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--request-corrupt-rate", s.requestCorruptRate,
                 "Change received bytes at this rate (0..1)")
      ->group(faults)
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--bit-flip-rate", s.bitFlipRate,
                 "Flip one random bit of sent bytes at this rate (0..1)")
      ->group(faults)
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--request-bit-flip-rate", s.requestBitFlipRate,
                 "Flip one random bit of received bytes at this rate (0..1)")
      ->group(faults)
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--noise", s.noise, "Random bytes before each reply frame")->group(faults);
  app.add_option("--silent-for", s.silentFor, "Answer none of the next N requests")->group(faults);
  app.add_option("--silent-from", s.silentFrom,
                 "Answer no loader command from the Nth on (0-based)")
      ->group(faults);
  app.add_flag("--silent", s.silent, "Answer nothing at all")->group(faults);
  app.add_option("--hang-up-after", s.hangUpAfter, "Close the line after N received bytes")
      ->group(faults);
  app.add_option("--wrong-length", s.wrongLength,
                 "Command (code or letter) whose replies have "
                 "a wrong length")
      ->group(faults);
  app.add_option("--wrong-length-delta", s.wrongLengthDelta,
                 "Bytes added to (or, negative, taken from) those replies")
      ->group(faults)
      ->capture_default_str();
  app.add_option("--wrong-echo", s.wrongEcho,
                 "Command (code or letter) whose replies have a "
                 "wrong echo byte")
      ->group(faults);
  app.add_option("--wrong-header-length", s.wrongHeaderLength,
                 "The next N loader replies carry a header length one too large")
      ->group(faults);
  app.add_option("--fail-erase", s.failErase, "Sector address whose erase reports failure")
      ->group(faults);
  app.add_option("--fail-program", s.failProgram,
                 "Sector address into which programming reports failure")
      ->group(faults);
  app.add_option("--fail-program-write", s.failProgramWrite,
                 "The Nth LDR_PROGRAM (0-based) reports failure")
      ->group(faults);
  app.add_option("--corrupt-program-write", s.corruptProgramWrite,
                 "The Nth LDR_PROGRAM (0-based) stores one bit wrong")
      ->group(faults);
  app.add_option("--fail-logic-row", s.failLogicRow, "Programming this logic row gets no reply")
      ->group(faults);
  app.add_option("--set-speed-reply-length", s.setSpeedReplyLength,
                 "Bytes in the LINK_SET_SPEED reply")
      ->group(faults)
      ->capture_default_str();
  app.add_option("--erase-busy-ms", s.eraseBusy, "Time one sector erase takes")->group(faults);
  app.add_option("--erase-busy-from", s.eraseBusyFrom,
                 "Only sectors at or above this address take --erase-busy-ms")
      ->group(faults);
  app.add_option("--program-busy-ms", s.programBusy, "Time one LDR_PROGRAM takes")->group(faults);
  app.add_option("--logic-erase-busy-ms", s.logicEraseBusy, "Time the logic erase takes")
      ->group(faults);
  app.add_option("--logic-row-busy-ms", s.logicRowBusy, "Time one logic row takes")->group(faults);

  // Hidden mode: the build writes the manual page from this very parser.
  if (argc > 1 && std::string(argv[1]) == "--help-man") {
    const vanta::roff::ProgramPage page{"vanta7-sim", "vantaLink " VANTA_VERSION, kSummary,
                                        kDescription, "vantalink-cli(1), vantalink(1)"};
    std::fputs(vanta::roff::ProgramManual(app, page).c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  CLI11_PARSE(app, argc, argv);

  ProbeOptions options;
  uint64_t number = 0;
  if (!ParseNumber(s.loaderVersion, number) || number > 0xFFFF) {
    std::cerr << "vanta7-sim: --loader-version must be a number up to 0xFFFF\n";
    return 2;
  }
  options.loaderVersion = static_cast<uint16_t>(number);
  options.serialNumber = s.serial;
  options.logicDeviceType = static_cast<uint8_t>(s.deviceType);
  options.startSpeed = s.speed;
  options.topSpeed = s.topSpeed;
  options.answerSpeed = s.answerSpeed;
  options.linePacing = s.pace;
  options.repeatRedoesWork = s.redoRepeats;
  options.flashFile = s.flashFile;
  options.seed = s.seed;

  VirtualProbe probe(options);
  FaultKnobs& k = probe.Faults();
  k.dropRate = s.dropRate;
  k.corruptRate = s.corruptRate;
  k.insertRate = s.insertRate;
  k.requestCorruptRate = s.requestCorruptRate;
  k.bitFlipRate = s.bitFlipRate;
  k.requestBitFlipRate = s.requestBitFlipRate;
  k.noiseBeforeFrame = s.noise;
  k.silentForRequests = s.silentFor;
  k.silentFromCommand = s.silentFrom;
  k.silent = s.silent;
  k.hangUpAfterBytes = s.hangUpAfter;
  k.wrongLengthDelta = s.wrongLengthDelta;
  k.wrongHeaderLengthOnce = s.wrongHeaderLength;
  k.failProgramAfterWrites = s.failProgramWrite;
  k.corruptProgramWrite = s.corruptProgramWrite;
  k.failLogicRow = s.failLogicRow;
  k.linkSetSpeedReplyLength = s.setSpeedReplyLength;
  k.eraseSectorBusyMs = s.eraseBusy;
  k.programBusyMs = s.programBusy;
  k.logicEraseBusyMs = s.logicEraseBusy;
  k.logicRowBusyMs = s.logicRowBusy;
  int32_t code = 0;
  if (!s.wrongLength.empty()) {
    if (!ParseCommand(s.wrongLength, code)) {
      std::cerr << "vanta7-sim: --wrong-length takes a command code or letter\n";
      return 2;
    }
    k.wrongLengthCommand = code;
  }
  if (!s.wrongEcho.empty()) {
    if (!ParseCommand(s.wrongEcho, code)) {
      std::cerr << "vanta7-sim: --wrong-echo takes a command code or letter\n";
      return 2;
    }
    k.wrongEchoCommand = code;
  }
  for (auto [text, knob, name] :
       {std::tuple{&s.failErase, &k.failEraseSector, "--fail-erase"},
        std::tuple{&s.failProgram, &k.failProgramSector, "--fail-program"},
        std::tuple{&s.eraseBusyFrom, &k.eraseBusyFromSector, "--erase-busy-from"}}) {
    if (text->empty()) continue;
    if (!ParseNumber(*text, number) || number > 0xFFFFFFFF) {
      std::cerr << "vanta7-sim: " << name << " takes a sector address (e.g. 0x01040000)\n";
      return 2;
    }
    *knob = static_cast<int64_t>(number);
  }

  std::mutex logMutex;
  if (s.verbose) {
    probe.SetTraceSink([&logMutex](const std::string& line) {
      std::lock_guard lock(logMutex);
      std::fprintf(stderr, "vanta7-sim: %s\n", line.c_str());
    });
  }

  // Signals are taken by sigwait below; the serving thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (!probe.Start()) {
    struct stat info {};
    if (!s.flashFile.empty() && stat(s.flashFile.c_str(), &info) == 0) {
      std::cerr << "vanta7-sim: " << s.flashFile << " is no flash image (it must hold exactly "
                << vanta::sim::kFlashSize << " bytes); it is left as it is\n";
    } else {
      std::cerr << "vanta7-sim: cannot create a pseudo-terminal: " << std::strerror(errno) << "\n";
    }
    return 1;
  }
  if (s.firmwareVersion > 0) probe.InstallFirmwareVersion(static_cast<uint8_t>(s.firmwareVersion));
  if (s.logicVersion >= 0) probe.InstallLogicVersion(static_cast<uint16_t>(s.logicVersion));

  const std::string device = probe.DevicePath();
  if (s.com >= 0) {
    std::string error;
    if (!vanta::MapPort(s.com, device, error)) {
      std::cerr << "vanta7-sim: " << error << "\n";
      probe.Stop();
      return 1;
    }
    std::cerr << "vanta7-sim: COM" << s.com << " -> " << device << "\n";
  }
  std::cout << device << std::endl;

  int received = 0;
  sigwait(&stopSignals, &received);
  // Only while it still points at our pty: another probe may have taken the name since.
  if (s.com >= 0) vanta::UnmapPort(s.com, device);
  probe.Stop();
  if (s.verbose) {
    const vanta::sim::Counters c = probe.GetCounters();
    std::fprintf(
        stderr,
        "vanta7-sim: %llu bytes in, %llu out, %llu frames in, %llu out, %llu repeats, "
        "%llu garbled, wire time %.6f s, busy %.6f s\n",
        static_cast<unsigned long long>(c.bytesIn), static_cast<unsigned long long>(c.bytesOut),
        static_cast<unsigned long long>(c.framesIn), static_cast<unsigned long long>(c.framesOut),
        static_cast<unsigned long long>(c.repeatsSeen),
        static_cast<unsigned long long>(c.garbledBytes), static_cast<double>(c.wireNanos) / 1e9,
        static_cast<double>(c.busyMicros) / 1e6);
  }
  return 0;
}
