// The Update button end to end against the virtual probe at 115200 bit/s with line pacing:
// a 256 KiB firmware image in 32-byte S3 records plus the logic fuse map, once with per-record
// writes and once with merged writes (--fast), each beside its wire-time bound.
// Options: --size BYTES, --record-len N, --erase-busy-ms N, --row-busy-ms N, --only-fast.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_images.h"
#include "dialog/dialog_controller.h"
#include "link/link_session.h"
#include "link/loader.h"
#include "sim/virtual_probe.h"

namespace {

struct Run {
  bool ok = false;
  double elapsed = 0, bound = 0;
  vanta::sim::Counters counters;
  std::string failure;  // stage and code of a failed run
};

constexpr uint32_t kSpeed = 115200;

Run UpdateOnce(const std::string& dir, bool fast, uint32_t eraseBusyMs, uint32_t rowBusyMs) {
  using namespace vanta;
  Run run;
  sim::ProbeOptions options;
  options.linePacing = true;
  sim::VirtualProbe probe(options);
  if (!probe.Start()) return run;
  probe.InstallFirmwareVersion(3);
  probe.InstallLogicVersion(4);
  probe.Faults().eraseSectorBusyMs = eraseBusyMs;
  probe.Faults().logicEraseBusyMs = eraseBusyMs;
  probe.Faults().logicRowBusyMs = rowBusyMs;
  ProbeLink link;
  if (link.OpenLink(probe.DevicePath(), kSpeed) != RESULT_OK) return run;

  bench::SilentView view;
  DialogFields fields;
  ReadIdentity(link, fields.identity);
  fields.newestFirmwareVersion = 7;
  fields.newestLogicVersion = 12;
  ProgressDisplay progress;
  FlowContext context{link, view, fields, progress, {dir}};
  context.firmware.mergeRecords = fast;

  probe.ResetCounters();
  const auto start = std::chrono::steady_clock::now();
  const FlowOutcome outcome = OnUpdate(context);
  run.elapsed = bench::SecondsSince(start);
  run.counters = probe.GetCounters();
  run.bound = bench::WireBoundSeconds(run.counters, kSpeed);
  run.failure = std::string(StageName(outcome.stage)) + " " + ResultName(outcome.code);
  run.ok =
      outcome.passed && fields.identity.firmwareVersion == 7 && fields.identity.logicVersion == 12;
  link.CloseLink();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t size = 256 * 1024, recordLength = 32, eraseBusyMs = 50, rowBusyMs = 0;
  bool onlyFast = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() { return i + 1 < argc ? static_cast<uint32_t>(std::atoi(argv[++i])) : 0u; };
    if (arg == "--size")
      size = value();
    else if (arg == "--record-len")
      recordLength = value();
    else if (arg == "--erase-busy-ms")
      eraseBusyMs = value();
    else if (arg == "--row-busy-ms")
      rowBusyMs = value();
    else if (arg == "--only-fast")
      onlyFast = true;
    else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  vanta::bench::ScratchDir dir;
  const size_t records = vanta::bench::WriteFirmware(dir.Path(), 7, size, recordLength);
  vanta::bench::WriteJedec(dir.Path(), 12);

  std::printf(
      "full update: firmware %u bytes in %zu records of %u, logic 134 rows, %u bit/s, "
      "line pacing\n",
      size, records, recordLength, kSpeed);
  std::printf("%-11s %8s %10s %10s %9s %9s %9s %7s\n", "mode", "frames", "bytes out", "bytes in",
              "busy s", "bound s", "elapsed s", "ratio");
  Run runs[2];
  for (int fast = onlyFast ? 1 : 0; fast <= 1; ++fast) {
    Run& run = runs[fast];
    run = UpdateOnce(dir.Path(), fast == 1, eraseBusyMs, rowBusyMs);
    if (!run.ok) {
      std::fprintf(stderr, "%s update failed: %s\n", fast ? "merged" : "per-record",
                   run.failure.c_str());
      return 1;
    }
    std::printf("%-11s %8llu %10llu %10llu %9.3f %9.3f %9.3f %7.3f\n",
                fast ? "merged" : "per-record",
                static_cast<unsigned long long>(run.counters.framesIn),
                static_cast<unsigned long long>(run.counters.bytesIn),
                static_cast<unsigned long long>(run.counters.bytesOut),
                run.counters.busyMicros / 1e6, run.bound, run.elapsed, run.elapsed / run.bound);
  }
  if (!onlyFast) {
    std::printf("merged is %.2f times faster than per-record (bounds: %.2f times)\n",
                runs[0].elapsed / runs[1].elapsed, runs[0].bound / runs[1].bound);
  }
  return 0;
}
