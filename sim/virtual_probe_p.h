#pragma once
// The virtual probe's inside, shared by its parts: the paced line (paced_line.cpp), link control
// (link_control.cpp), loader dispatch (loader_dispatch.cpp), and the serving thread and public
// face (virtual_probe.cpp).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "sim/loader_model.h"
#include "sim/pty_line.h"
#include "sim/virtual_probe.h"
#include "sim/wire_frame.h"

namespace vanta::sim {

using Nanos = int64_t;

inline Nanos Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Ten bit times (start, eight data, stop) at speed.
inline Nanos ByteTime(uint32_t speed) {
  return speed == 0 ? 0 : 10'000'000'000LL / speed;
}

// Claims one event of a counting knob: true when it was positive (and is now one less).
inline bool TakeOne(std::atomic<int32_t>& knob) {
  int32_t n = knob.load();
  while (n > 0 && !knob.compare_exchange_weak(n, n - 1)) {
  }
  return n > 0;
}

inline constexpr Nanos kIdleWait = 20'000'000;       // longest sleep of the serving thread
inline constexpr Nanos kFrameGapReset = 50'000'000;  // a quiet line this long ends a half frame
inline constexpr uint8_t kLinkSync = 1;
inline constexpr uint8_t kLinkSetSpeed = 3;
inline constexpr uint8_t kLoaderChannel = 0x10;

struct InByte {
  uint8_t value;
  Nanos readyAt;  // when the byte has fully arrived at the modelled line rate
};

enum class OutAction { kNone, kSwitchSpeed, kRestartLoader, kEraseSector };

struct OutItem {
  uint8_t value = 0;
  OutAction action = OutAction::kNone;
  uint32_t speed = 0;  // kSwitchSpeed: the new speed; kEraseSector: the sector's address
  Nanos notBefore = 0;
};

struct VirtualProbe::Impl {
  explicit Impl(ProbeOptions o)
      : options(std::move(o)),
        loader(LoaderIdentity{options.loaderVersion, options.serialNumber, options.logicDeviceType},
               faults),
        rng(options.seed),
        lineSpeed(options.startSpeed) {}

  ProbeOptions options;
  FaultKnobs faults;

  mutable std::mutex mutex;  // guards loader, counters, log, pty path
  LoaderModel loader;
  Counters counters;
  std::vector<uint8_t> commandLog;
  std::mt19937 rng;  // serving thread, or callers while it is stopped

  std::atomic<uint32_t> lineSpeed;
  PtyEnds pty;
  int wakeFd = -1;
  std::thread thread;
  std::atomic<bool> running{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> hangUpRequested{false};
  bool hungUp = false;  // guarded by mutex
  std::condition_variable hungUpChanged;
  std::function<void(const std::string&)> traceSink;

  // Serving thread only.
  FrameDecoder decoder;
  std::deque<InByte> inQueue;
  std::deque<OutItem> outQueue;
  std::vector<uint8_t> pendingWrite;
  Nanos inLineFreeAt = 0;   // paced arrival of the next received byte
  Nanos outLineFreeAt = 0;  // paced departure of the next sent byte
  Nanos lastInAt = 0;
  Nanos busyUntil = 0;
  std::vector<uint8_t> lastRequest;  // whole payload, header included
  LoaderReply lastReply;
  bool haveLast = false;

  void Serve();
  void Wake();
  void DoHangUp();
  void ReadLine(Nanos now);
  void ProcessInput(Nanos now);
  void PumpOutput(Nanos now);
  Nanos NextDeadline(Nanos now) const;
  // When the last byte now queued either way is due (0 when both queues are empty).
  Nanos LastDeadline() const;
  void HandleFrame(const std::vector<uint8_t>& payload, Nanos now);
  void HandleLinkControl(const std::vector<uint8_t>& payload, bool quiet, Nanos now);
  void HandleLoaderRequest(const std::vector<uint8_t>& payload, bool quiet, Nanos now);
  void SendFrame(const std::vector<uint8_t>& payload, Nanos notBefore);
  void QueueAction(OutAction action, uint32_t speed, Nanos notBefore);
  void ForgetLastRequest() { haveLast = false; }
  // A memory read or write over faults.silentAtAddress while its count lasts (and takes one).
  bool CoversSilentAddress(const std::vector<uint8_t>& payload);
  template <typename... Args>
  void Trace(const char* format, Args... args) {
    if (!traceSink) return;
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    traceSink(line);
  }
  uint8_t Garble(uint8_t byte, bool& dropped);
  // A byte after the line's value faults: replaced at one rate, one bit flipped at the other.
  uint8_t Disturb(uint8_t byte, double replaceRate, double flipRate);
  double Chance() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); }
  uint8_t RandomByte() { return static_cast<uint8_t>(rng() & 0xFF); }
  uint8_t RandomNoiseByte() {
    uint8_t b;
    do b = RandomByte();
    while (b == kDle);
    return b;
  }
};

}  // namespace vanta::sim
