// Programs a 256 KiB firmware image in 32-byte S3 records into the virtual probe at 115200 bit/s
// with line pacing, and sets the elapsed time beside the wire-time bound.
// Options: --size BYTES, --record-len N, --fast, --verify, --speed BITS (the probe takes it),
// --erase-busy-ms N, --program-busy-ms N.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_images.h"
#include "link/link_session.h"
#include "sim/virtual_probe.h"
#include "update/firmware.h"

int main(int argc, char** argv) {
  using namespace vanta;
  uint32_t size = 256 * 1024, recordLength = 32, eraseBusyMs = 50, programBusyMs = 0;
  uint32_t speed = 115200;
  bool fast = false, verify = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() { return i + 1 < argc ? static_cast<uint32_t>(std::atoi(argv[++i])) : 0u; };
    if (arg == "--size")
      size = value();
    else if (arg == "--record-len")
      recordLength = value();
    else if (arg == "--fast")
      fast = true;
    else if (arg == "--verify")
      verify = true;
    else if (arg == "--speed")
      speed = value();
    else if (arg == "--erase-busy-ms")
      eraseBusyMs = value();
    else if (arg == "--program-busy-ms")
      programBusyMs = value();
    else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
  }

  bench::ScratchDir dir;
  const size_t records = bench::WriteFirmware(dir.Path(), 7, size, recordLength);

  sim::ProbeOptions options;
  options.linePacing = true;
  options.topSpeed = speed;
  sim::VirtualProbe probe(options);
  if (!probe.Start()) {
    std::fprintf(stderr, "no pseudo-terminal for the virtual probe\n");
    return 1;
  }
  probe.Faults().eraseSectorBusyMs = eraseBusyMs;
  probe.Faults().programBusyMs = programBusyMs;
  ProbeLink link;
  if (const ResultCode rc = link.OpenLink(probe.DevicePath(), speed); rc != RESULT_OK) {
    std::fprintf(stderr, "cannot open the link: %s\n", ResultName(rc));
    return 1;
  }

  probe.ResetCounters();
  ProgressDisplay progress;
  FirmwareOptions firmware;
  firmware.imageDirs = {dir.Path()};
  firmware.mergeRecords = fast;
  firmware.verifyReadBack = verify;
  const auto start = std::chrono::steady_clock::now();
  const ResultCode rc = ProgramFirmware(
                            link, 7, [](const std::string&) {}, progress, firmware)
                            .code;
  const double elapsed = bench::SecondsSince(start);
  const sim::Counters counters = probe.GetCounters();
  link.CloseLink();
  if (rc != RESULT_OK) {
    std::fprintf(stderr, "programming failed: %s\n", ResultName(rc));
    return 1;
  }
  // Bytes counted at the speed they crossed at: the same as WireBoundSeconds at one speed.
  const double bound = (static_cast<double>(counters.wireNanos) / 1e9) +
                       static_cast<double>(counters.busyMicros) / 1e6;
  std::printf(
      "firmware update: %u bytes in %zu records of %u, %s writes%s, %u bit/s, line pacing\n", size,
      records, recordLength, fast ? "merged" : "per-record", verify ? ", read back" : "",
      probe.LineSpeed());
  std::printf("  frames          %llu out, %llu back\n",
              static_cast<unsigned long long>(counters.framesIn),
              static_cast<unsigned long long>(counters.framesOut));
  std::printf("  bytes on wire   %llu out, %llu back\n",
              static_cast<unsigned long long>(counters.bytesIn),
              static_cast<unsigned long long>(counters.bytesOut));
  std::printf("  probe busy      %.3f s\n", counters.busyMicros / 1e6);
  std::printf("  wire-time bound %.3f s\n", bound);
  std::printf("  elapsed         %.3f s\n", elapsed);
  std::printf("  ratio           %.3f (elapsed / bound)\n", elapsed / bound);
  return 0;
}
