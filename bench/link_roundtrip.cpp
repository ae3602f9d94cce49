// Transactions per second of Transact against the virtual probe over a pseudo-terminal (no line
// pacing), beside the round trip of a bare pty echo of the same byte counts in the same run. The
// ratio shows what the link layers and the probe model add to the pty itself.
//
//   link_roundtrip [TRANSACTIONS]   (default 3000)
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "link/link_session.h"
#include "link/loader.h"
#include "sim/virtual_probe.h"

namespace {

using Steady = std::chrono::steady_clock;

double SecondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

bool ReadExactly(int fd, uint8_t* buffer, size_t count) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = read(fd, buffer + got, count - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(fd, bytes + done, count - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Seconds per round trip of a bare pty: the client writes requestBytes, an echo thread on the
// master answers with replyBytes as soon as the request is in. Negative when no pty can be had.
double BareEchoRoundTrip(int transactions, size_t requestBytes, size_t replyBytes) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return -1;
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(slave, TCSANOW, &raw);

  std::thread echo([&] {
    std::vector<uint8_t> request(requestBytes), reply(replyBytes, 0x41);
    for (int i = 0; i < transactions; ++i) {
      if (!ReadExactly(master, request.data(), requestBytes)) return;
      if (!WriteAll(master, reply.data(), replyBytes)) return;
    }
  });
  std::vector<uint8_t> request(requestBytes, 0x42), reply(replyBytes);
  const auto start = Steady::now();
  bool ok = true;
  for (int i = 0; i < transactions && ok; ++i) {
    ok = WriteAll(slave, request.data(), requestBytes) &&
         ReadExactly(slave, reply.data(), replyBytes);
  }
  const double seconds = SecondsSince(start);
  echo.join();
  close(slave);
  close(master);
  return ok ? seconds / transactions : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int transactions = argc > 1 ? std::atoi(argv[1]) : 3000;
  if (transactions <= 0) {
    std::fprintf(stderr, "usage: link_roundtrip [TRANSACTIONS]\n");
    return 2;
  }

  vanta::sim::ProbeOptions options;
  options.startSpeed = 115200;
  options.linePacing = false;
  vanta::sim::VirtualProbe probe(options);
  if (!probe.Start()) {
    std::fprintf(stderr, "link_roundtrip: no pseudo-terminal for the virtual probe\n");
    return 1;
  }
  vanta::ProbeLink link;
  const vanta::ResultCode opened = link.OpenLink(probe.DevicePath(), 115200);
  if (opened != vanta::RESULT_OK) {
    std::fprintf(stderr, "link_roundtrip: OpenLink failed: %s\n", vanta::ResultName(opened));
    return 1;
  }

  const uint8_t request[1] = {vanta::LDR_IDENTIFY};
  uint8_t reply[vanta::kMaxPayload];
  // Warm-up, and the byte counts of one transaction for the echo.
  constexpr int kWarmUp = 50;
  probe.ResetCounters();
  for (int i = 0; i < kWarmUp; ++i) link.Transact(request, 1, reply, sizeof reply, 1000);
  const vanta::sim::Counters counters = probe.GetCounters();
  const size_t requestBytes = static_cast<size_t>(counters.bytesIn / kWarmUp);
  const size_t replyBytes = static_cast<size_t>(counters.bytesOut / kWarmUp);

  // Rounds of each kind take turns, so that a busy machine slows both alike: the ratio is the
  // median over pairs of neighbouring rounds. The best round of each kind is shown beside it.
  constexpr int kRounds = 15;
  const int perRound = std::max(1, transactions / kRounds);
  std::vector<double> linkRounds, bareRounds;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Steady::now();
    for (int i = 0; i < perRound; ++i) {
      const int32_t result = link.Transact(request, 1, reply, sizeof reply, 1000);
      if (result < 0) {
        std::fprintf(stderr, "link_roundtrip: transaction failed: %s\n", vanta::ResultName(result));
        return 1;
      }
    }
    linkRounds.push_back(SecondsSince(start) / perRound);
    const double bare = BareEchoRoundTrip(perRound, requestBytes, replyBytes);
    if (bare <= 0) {
      std::fprintf(stderr, "link_roundtrip: bare pty echo failed\n");
      return 1;
    }
    bareRounds.push_back(bare);
  }
  link.CloseLink();
  probe.Stop();

  const double linkSeconds = *std::min_element(linkRounds.begin(), linkRounds.end());
  const double bareSeconds = *std::min_element(bareRounds.begin(), bareRounds.end());
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round)
    ratios.push_back(linkRounds[round] / bareRounds[round]);
  std::sort(ratios.begin(), ratios.end());

  const double ratio = ratios[kRounds / 2];
  std::printf("transactions            %d in %d rounds (LDR_IDENTIFY, %zu bytes out, %zu back)\n",
              perRound * kRounds, kRounds, requestBytes, replyBytes);
  std::printf("Transact over the link  %8.1f per second  (%7.1f us each, best round)\n",
              1 / linkSeconds, linkSeconds * 1e6);
  std::printf("bare pty echo           %8.1f per second  (%7.1f us each, best round)\n",
              1 / bareSeconds, bareSeconds * 1e6);
  std::printf("ratio link / bare       %8.2f  (median of paired rounds; best rounds %.2f)\n", ratio,
              linkSeconds / bareSeconds);
  std::printf("target                      1.50 or less: %s\n", ratio <= 1.5 ? "met" : "missed");
  return 0;
}
