// CPU time the tool spends per Transact against the virtual probe (no line pacing): the calling
// thread's own clock (CLOCK_THREAD_CPUTIME_ID; the user and system split from RUSAGE_THREAD is
// tick-sampled and only a hint), so the probe's serving thread is not counted. One row per kind of
// transaction the flows make; "out" and "back" are the payload bytes behind the header.
//
//   cpu_per_transaction [TRANSACTIONS]   (default 2000 of each kind)
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/loader.h"
#include "link/packing.h"
#include "sim/virtual_probe.h"

namespace {

using namespace vanta;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void ThreadUserSystem(double& user, double& system) {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  user = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
  system = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;
}

struct Kind {
  const char* name;
  std::vector<uint8_t> request;
  uint32_t extraMs;
};

std::vector<uint8_t> ProgramRequest(uint16_t count) {
  std::vector<uint8_t> request(7 + count);
  uint8_t* at = PutU8(request.data(), LDR_PROGRAM);
  at = PutU32(at, 0x01080000);
  at = PutU16(at, count);
  for (uint16_t i = 0; i < count; ++i) at[i] = static_cast<uint8_t>(i * 37 + 11);
  return request;
}

}  // namespace

int main(int argc, char** argv) {
  const int transactions = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (transactions <= 0) {
    std::fprintf(stderr, "usage: cpu_per_transaction [TRANSACTIONS]\n");
    return 2;
  }
  sim::ProbeOptions options;
  options.startSpeed = 115200;
  sim::VirtualProbe probe(options);
  if (!probe.Start()) {
    std::fprintf(stderr, "cpu_per_transaction: no pseudo-terminal for the virtual probe\n");
    return 1;
  }
  ProbeLink link;
  if (const ResultCode rc = link.OpenLink(probe.DevicePath(), 115200); rc != RESULT_OK) {
    std::fprintf(stderr, "cpu_per_transaction: OpenLink failed: %s\n", ResultName(rc));
    return 1;
  }

  // Rows are read and written again and again; the model only ANDs, so the same bytes stay valid.
  const std::vector<Kind> kinds = {
      {"LDR_IDENTIFY", {LDR_IDENTIFY}, 1000},
      {"LDR_PROGRAM of a 32-byte record", ProgramRequest(32), 1000},
      {"LDR_PROGRAM of 1024 merged bytes", ProgramRequest(1024), 1000},
      {"LDR_LOGIC_READ_ROW", {LDR_LOGIC_READ_ROW, 5}, 100},
  };
  // Logic rows are only read with logic access open.
  const uint8_t access[2] = {LDR_LOGIC_ACCESS, 1};
  uint8_t reply[kMaxPayload];
  link.Transact(access, sizeof access, reply, sizeof reply, 100);

  std::printf("tool thread CPU per transaction, %d of each, 115200 bit/s, no line pacing\n",
              transactions);
  std::printf("%-34s %6s %6s %8s %8s %9s %8s\n", "transaction", "out", "back", "cpu us", "user us",
              "system us", "wall us");
  bool allMet = true;
  double worst = 0;
  for (const Kind& kind : kinds) {
    for (int i = 0; i < 50; ++i) {
      link.Transact(kind.request.data(), kind.request.size(), reply, sizeof reply, kind.extraMs);
    }
    double user0 = 0, system0 = 0, user1 = 0, system1 = 0;
    ThreadUserSystem(user0, system0);
    const double cpu0 = ThreadCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    int32_t got = 0;
    for (int i = 0; i < transactions; ++i) {
      got = link.Transact(kind.request.data(), kind.request.size(), reply, sizeof reply,
                          kind.extraMs);
      if (got < 0) {
        std::fprintf(stderr, "cpu_per_transaction: %s failed: %s\n", kind.name, ResultName(got));
        return 1;
      }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = ThreadCpuSeconds() - cpu0;
    ThreadUserSystem(user1, system1);
    const double per = cpu / transactions * 1e6;
    worst = std::max(worst, per);
    allMet = allMet && per < 50;
    std::printf("%-34s %6zu %6d %8.1f %8.1f %9.1f %8.1f\n", kind.name, kind.request.size(), got,
                per, (user1 - user0) / transactions * 1e6, (system1 - system0) / transactions * 1e6,
                wall / transactions * 1e6);
  }
  link.CloseLink();
  probe.Stop();
  std::printf("target: under 50 us each: %s (worst %.1f us)\n", allMet ? "met" : "missed", worst);
  return allMet ? 0 : 3;
}
