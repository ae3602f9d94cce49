#include "sim/virtual_probe.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "link/packing.h"
#include "sim/loader_model.h"
#include "sim/pty_line.h"
#include "sim/wire_frame.h"

namespace vanta::sim {
namespace {

using Nanos = int64_t;

Nanos Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Ten bit times (start, eight data, stop) at speed.
Nanos ByteTime(uint32_t speed) {
  return speed == 0 ? 0 : 10'000'000'000LL / speed;
}

// Claims one event of a counting knob: true when it was positive (and is now one less).
bool TakeOne(std::atomic<int32_t>& knob) {
  int32_t n = knob.load();
  while (n > 0 && !knob.compare_exchange_weak(n, n - 1)) {
  }
  return n > 0;
}

const char* CommandName(uint8_t code) {
  switch (code) {
    case 100:
      return "LDR_IDENTIFY";
    case 101:
      return "LDR_READ_MEMORY";
    case 103:
      return "LDR_ERASE_SECTOR";
    case 104:
      return "LDR_PROGRAM";
    case 105:
      return "LDR_LOGIC_ACCESS";
    case 106:
      return "LDR_LOGIC_DEVICE_TYPE";
    case 107:
      return "LDR_LOGIC_READ_ROW";
    case 108:
      return "LDR_LOGIC_PROGRAM_ROW";
    case 109:
      return "LDR_LOGIC_READ_UES";
    case 110:
      return "LDR_LOGIC_PROGRAM_UES";
    case 112:
      return "LDR_LOGIC_ERASE";
    case 113:
      return "LDR_START_FIRMWARE";
    case 114:
      return "LDR_ENTER_LOADER";
    default:
      return "unknown command";
  }
}

// The first few bytes of a message in hex, for the trace.
std::string Hex(const uint8_t* bytes, size_t count, size_t limit = 12) {
  std::string text;
  char two[4];
  for (size_t i = 0; i < count && i < limit; ++i) {
    std::snprintf(two, sizeof two, "%02X ", bytes[i]);
    text += two;
  }
  if (count > limit) text += "...";
  if (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

constexpr Nanos kIdleWait = 20'000'000;       // longest sleep of the serving thread
constexpr Nanos kFrameGapReset = 50'000'000;  // a quiet line this long ends a half frame
constexpr uint8_t kLinkSync = 1;
constexpr uint8_t kLinkSetSpeed = 3;
constexpr uint8_t kLoaderChannel = 0x10;

struct InByte {
  uint8_t value;
  Nanos readyAt;  // when the byte has fully arrived at the modelled line rate
};

enum class OutAction { kNone, kSwitchSpeed, kRestartLoader };

struct OutItem {
  uint8_t value = 0;
  OutAction action = OutAction::kNone;
  uint32_t speed = 0;
  Nanos notBefore = 0;
};

}  // namespace

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
  template <typename... Args>
  void Trace(const char* format, Args... args) {
    if (!traceSink) return;
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    traceSink(line);
  }
  uint8_t Garble(uint8_t byte, bool& dropped);
  double Chance() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); }
  uint8_t RandomByte() { return static_cast<uint8_t>(rng() & 0xFF); }
  uint8_t RandomNoiseByte() {
    uint8_t b;
    do b = RandomByte();
    while (b == kDle);
    return b;
  }
};

VirtualProbe::VirtualProbe(ProbeOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

VirtualProbe::~VirtualProbe() {
  Stop();
}

bool VirtualProbe::Start() {
  if (impl_->running) return true;
  Impl& d = *impl_;
  if (!d.options.flashFile.empty()) {
    // A missing file: start erased and create it on Stop. A file that is there but no flash
    // image is refused, so that Stop never writes over something else.
    std::lock_guard lock(d.mutex);
    if (!d.loader.Flash().LoadImage(d.options.flashFile) &&
        access(d.options.flashFile.c_str(), F_OK) == 0) {
      return false;
    }
  }
  PtyEnds ends;
  if (!OpenPty(d.options.startSpeed, ends)) return false;
  d.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (d.wakeFd < 0) {
    ClosePty(ends);
    return false;
  }
  {
    std::lock_guard lock(d.mutex);
    d.pty = ends;
    d.hungUp = false;
    d.loader.Restart();
  }
  d.lineSpeed = d.options.startSpeed;
  d.decoder.Reset();
  d.inQueue.clear();
  d.outQueue.clear();
  d.pendingWrite.clear();
  d.haveLast = false;
  d.busyUntil = 0;
  d.stopping = false;
  d.hangUpRequested = false;
  d.running = true;
  d.thread = std::thread([&d] { d.Serve(); });
  return true;
}

void VirtualProbe::Stop() {
  Impl& d = *impl_;
  if (!d.running) return;
  d.stopping = true;
  d.Wake();
  d.thread.join();
  d.running = false;
  std::lock_guard lock(d.mutex);
  ClosePty(d.pty);
  close(d.wakeFd);
  d.wakeFd = -1;
  if (!d.options.flashFile.empty() && !d.loader.Flash().SaveImage(d.options.flashFile)) {
    std::fprintf(stderr, "vanta7-sim: cannot save the flash image to %s\n",
                 d.options.flashFile.c_str());
  }
}

std::string VirtualProbe::DevicePath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->pty.slavePath;
}

FaultKnobs& VirtualProbe::Faults() {
  return impl_->faults;
}

Counters VirtualProbe::GetCounters() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->counters;
}

void VirtualProbe::ResetCounters() {
  std::lock_guard lock(impl_->mutex);
  impl_->counters = Counters{};
}

std::vector<uint8_t> VirtualProbe::CommandLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->commandLog;
}

void VirtualProbe::ClearCommandLog() {
  std::lock_guard lock(impl_->mutex);
  impl_->commandLog.clear();
}

std::vector<uint8_t> VirtualProbe::ReadFlash(uint32_t address, uint32_t count) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.Flash().Read(address, count);
}

void VirtualProbe::ProgramFlash(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(impl_->mutex);
  impl_->loader.Flash().Program(address, bytes.data(), bytes.size(), true);
}

void VirtualProbe::EraseFlashSector(uint32_t sectorAddress) {
  std::lock_guard lock(impl_->mutex);
  impl_->loader.Flash().EraseSector(sectorAddress);
}

void VirtualProbe::InstallFirmwareVersion(uint8_t version) {
  std::lock_guard lock(impl_->mutex);
  FlashModel& flash = impl_->loader.Flash();
  flash.EraseSector(kFlashBase + 0x40000);
  const uint8_t head[6] = {0xAA, 0x55, 0x55, 0xAA, 0x16, version};
  flash.Program(kFlashBase + 0x40000, head, sizeof head);
}

std::vector<std::string> VirtualProbe::LogicRows() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.Logic().Rows();
}

std::string VirtualProbe::LogicUes() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.Logic().Ues();
}

void VirtualProbe::InstallLogicVersion(uint16_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "B6001E9%03u", static_cast<unsigned>(version % 1000));
  const std::string bits = LogicModel::UesBits(text);
  std::lock_guard lock(impl_->mutex);
  LogicModel& logic = impl_->loader.Logic();
  // Only the UES changes; the fuse rows keep whatever they hold.
  std::vector<std::string> rows = logic.Rows();
  logic.Erase();
  for (int r = 0; r < LogicModel::kRows; ++r) {
    logic.ProgramRow(r, reinterpret_cast<const uint8_t*>(rows[r].data()));
  }
  logic.ProgramUes(reinterpret_cast<const uint8_t*>(bits.data()));
}

void VirtualProbe::SetSerialNumber(const std::string& serial) {
  std::lock_guard lock(impl_->mutex);
  impl_->loader.Identity().serialNumber = serial;
}

void VirtualProbe::SetLogicDeviceType(uint8_t type) {
  std::lock_guard lock(impl_->mutex);
  impl_->loader.Identity().logicDeviceType = type;
}

uint16_t VirtualProbe::StoredFirmwareVersion() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.StoredFirmwareVersion();
}

uint16_t VirtualProbe::StoredLogicVersion() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.StoredLogicVersion();
}

bool VirtualProbe::InFirmwareMode() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->loader.InFirmwareMode();
}

uint32_t VirtualProbe::LineSpeed() const {
  return impl_->lineSpeed;
}

void VirtualProbe::SetTraceSink(std::function<void(const std::string&)> sink) {
  impl_->traceSink = std::move(sink);
}

void VirtualProbe::HangUp() {
  Impl& d = *impl_;
  if (!d.running) {
    std::lock_guard lock(d.mutex);
    ClosePty(d.pty);
    d.hungUp = true;
    return;
  }
  if (d.thread.get_id() == std::this_thread::get_id()) {
    d.DoHangUp();
    return;
  }
  d.hangUpRequested = true;
  d.Wake();
  std::unique_lock lock(d.mutex);
  d.hungUpChanged.wait_for(lock, std::chrono::seconds(5), [&d] { return d.hungUp; });
}

// ---------------------------------------------------------------------------------------------
// Serving thread.

void VirtualProbe::Impl::Wake() {
  const uint64_t one = 1;
  if (wakeFd >= 0 && write(wakeFd, &one, sizeof one) < 0) {
    // Already signalled (the counter is full): the thread wakes anyway.
  }
}

void VirtualProbe::Impl::DoHangUp() {
  Trace("hang-up: line closed");
  std::lock_guard lock(mutex);
  ClosePty(pty);  // the tool's side now reads POLLHUP / EIO
  hungUp = true;
  inQueue.clear();
  outQueue.clear();
  pendingWrite.clear();
  hungUpChanged.notify_all();
}

void VirtualProbe::Impl::Serve() {
  // The paced line's wake-ups are due to the microsecond; the default 50 us timer slack would
  // be added to every request's and every reply's end.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  while (!stopping) {
    if (hangUpRequested.exchange(false)) DoHangUp();
    if (faults.hangUpAfterBytes.load() == 0) {
      faults.hangUpAfterBytes = -1;
      DoHangUp();
    }
    bool gone;
    {
      std::lock_guard lock(mutex);
      gone = hungUp;
    }
    Nanos now = Now();
    if (!gone) {
      ProcessInput(now);
      PumpOutput(now);
    }
    {
      std::lock_guard lock(mutex);
      gone = hungUp;
    }
    const Nanos wait = gone ? kIdleWait : std::clamp<Nanos>(NextDeadline(now) - now, 0, kIdleWait);
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {gone ? -1 : pty.master, 0, 0}};
    if (!gone) fds[1].events = static_cast<short>(POLLIN | (pendingWrite.empty() ? 0 : POLLOUT));
    // Whole milliseconds, rounded up: a paced line catches up on every wake-up, so the grain
    // only bunches bytes together. Only the moment the last queued byte is due is kept exactly:
    // rounded up, it would add up to a millisecond to the end of every request and every reply,
    // which a stop-and-wait link pays on each transaction.
    Nanos sleep = (wait + 999'999) / 1'000'000 * 1'000'000;
    if (!gone) sleep = std::min(sleep, std::max<Nanos>(LastDeadline() - now, wait));
    timespec timeout{static_cast<time_t>(sleep / 1'000'000'000),
                     static_cast<long>(sleep % 1'000'000'000)};
    const int ready = ppoll(fds, 2, &timeout, nullptr);
    if (ready < 0) continue;
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = read(wakeFd, &count, sizeof count);
    }
    if (!gone && (fds[1].revents & POLLIN)) ReadLine(Now());
  }
}

Nanos VirtualProbe::Impl::LastDeadline() const {
  Nanos last = 0;
  if (!inQueue.empty()) last = std::max(inQueue.back().readyAt, busyUntil);
  if (!outQueue.empty()) {
    Nanos at = outQueue.back().notBefore;
    if (options.linePacing) {
      const Nanos firstAt = std::max(outQueue.front().notBefore, outLineFreeAt);
      at = std::max(at, firstAt + static_cast<Nanos>(outQueue.size() - 1) * ByteTime(lineSpeed));
    }
    last = std::max(last, at);
  }
  return last;
}

Nanos VirtualProbe::Impl::NextDeadline(Nanos now) const {
  Nanos next = now + kIdleWait;
  if (!inQueue.empty()) next = std::min(next, std::max(inQueue.front().readyAt, busyUntil));
  if (!outQueue.empty()) {
    Nanos at = outQueue.front().notBefore;
    if (options.linePacing) at = std::max(at, outLineFreeAt);
    next = std::min(next, at);
  }
  return next;
}

uint8_t VirtualProbe::Impl::Garble(uint8_t byte, bool& dropped) {
  // A byte at the wrong speed is lost in the receiver or comes out as some other value.
  dropped = (rng() & 1) != 0;
  uint8_t other = RandomByte();
  if (other == byte) other ^= 0x5A;
  return other;
}

void VirtualProbe::Impl::ReadLine(Nanos now) {
  uint8_t buffer[4096];
  const ssize_t n = read(pty.master, buffer, sizeof buffer);
  if (n <= 0) return;  // EAGAIN; EIO only while no slave is open, and we hold one
  const Nanos byteTime = options.linePacing ? ByteTime(lineSpeed) : 0;
  for (ssize_t i = 0; i < n; ++i) {
    {
      std::lock_guard lock(mutex);
      ++counters.bytesIn;
    }
    // The line dies right after the byte that uses up the hang-up budget.
    if (TakeOne(faults.hangUpAfterBytes) && faults.hangUpAfterBytes.load() == 0) {
      faults.hangUpAfterBytes = -1;
      DoHangUp();
      return;
    }
    uint8_t value = buffer[i];
    uint32_t receive = 0, transmit = 0;
    if (SlaveLineSpeeds(pty.master, receive, transmit) && transmit != lineSpeed) {
      bool dropped = false;
      value = Garble(value, dropped);
      {
        std::lock_guard lock(mutex);
        ++counters.garbledBytes;
      }
      if (dropped) continue;
    }
    const Nanos readyAt = std::max(now, inLineFreeAt) + byteTime;
    inLineFreeAt = readyAt;
    inQueue.push_back({value, readyAt});
  }
}

void VirtualProbe::Impl::ProcessInput(Nanos now) {
  while (!inQueue.empty() && now >= busyUntil && inQueue.front().readyAt <= now) {
    const InByte in = inQueue.front();
    inQueue.pop_front();
    const Nanos gap = std::max(kFrameGapReset, 20 * ByteTime(lineSpeed));
    if (decoder.InFrame() && in.readyAt - lastInAt > gap) decoder.Reset();
    lastInAt = in.readyAt;
    if (decoder.Push(in.value) == FrameDecoder::Event::kFrame) {
      HandleFrame(decoder.Payload(), now);
      if (hungUp) return;
    }
  }
}

void VirtualProbe::Impl::HandleFrame(const std::vector<uint8_t>& payload, Nanos now) {
  {
    std::lock_guard lock(mutex);
    ++counters.framesIn;
  }
  if (payload.size() < 2) return;
  const size_t length = ((payload[0] & 0x07u) << 8) | payload[1];
  if (payload.size() != length + 2 || length == 0) return;  // not a request this loader takes
  bool quiet = faults.silent.load();
  if (TakeOne(faults.silentForRequests)) quiet = true;
  if (payload[0] & kLoaderChannel) {
    HandleLoaderRequest(payload, quiet, now);
  } else {
    HandleLinkControl(payload, quiet, now);
  }
}

void VirtualProbe::Impl::HandleLinkControl(const std::vector<uint8_t>& payload, bool quiet,
                                           Nanos now) {
  // A new link starts with these: a request that looks like the last one is new work.
  ForgetLastRequest();
  const uint8_t code = payload[2];
  if (quiet) {
    Trace("link control %u at %u bit/s: not answered (fault)", code, lineSpeed.load());
    return;
  }
  if (code == kLinkSync && payload.size() == 3) {
    Trace("LINK_SYNC at %u bit/s", lineSpeed.load());
    SendFrame({0x00, 0x01, kLinkSync}, now);
    return;
  }
  if (code == kLinkSetSpeed && payload.size() == 7) {
    uint32_t asked = 0;
    GetU32(payload.data() + 3, asked);
    uint32_t next = options.answerSpeed;
    if (next == 0) next = asked == 0 ? lineSpeed.load() : std::min(asked, options.topSpeed);
    std::vector<uint8_t> reply(7);
    PutU32(PutU8(PutU16(reply.data(), 0x0005), kLinkSetSpeed), next);
    const int32_t wanted = faults.linkSetSpeedReplyLength.load();
    reply.resize(static_cast<size_t>(std::clamp<int32_t>(wanted, 0, 64)), 0);
    Trace("LINK_SET_SPEED %u at %u bit/s: going on at %u", asked, lineSpeed.load(), next);
    SendFrame(reply, now);
    QueueAction(OutAction::kSwitchSpeed, next, now);
  }
}

void VirtualProbe::Impl::HandleLoaderRequest(const std::vector<uint8_t>& payload, bool quiet,
                                             Nanos now) {
  const uint8_t sequence = payload[0] >> 6;
  const bool repeat = haveLast && payload == lastRequest;
  LoaderReply reply;
  {
    std::lock_guard lock(mutex);
    const int32_t silentFrom = faults.silentFromCommand.load();
    if (silentFrom >= 0 && commandLog.size() >= static_cast<size_t>(silentFrom)) quiet = true;
    commandLog.push_back(payload[2]);
    if (repeat) ++counters.repeatsSeen;
    if (repeat && !options.repeatRedoesWork) {
      reply = lastReply;  // the work is done already; only the answer was lost
      reply.busyMs = 0;
    } else {
      reply = loader.Handle(payload.data() + 2, payload.size() - 2);
    }
    counters.busyMicros += static_cast<uint64_t>(reply.busyMs) * 1000;
  }
  lastRequest = payload;
  lastReply = reply;
  haveLast = true;
  if (reply.busyMs > 0) busyUntil = std::max(busyUntil, now) + Nanos{reply.busyMs} * 1'000'000;
  const Nanos sendAt = std::max(now, busyUntil);
  if (traceSink) {
    const std::string request = Hex(payload.data() + 2, payload.size() - 2);
    const std::string answer = Hex(reply.bytes.data(), reply.bytes.size());
    Trace("%s seq %u%s [%s] -> %s [%s]%s", CommandName(payload[2]), sequence,
          repeat ? " (repeat)" : "", request.c_str(), quiet || !reply.send ? "no reply" : "reply",
          answer.c_str(), reply.busyMs > 0 ? " after busy time" : "");
  }
  if (quiet || !reply.send) {
    if (reply.restartLoader) QueueAction(OutAction::kRestartLoader, 0, sendAt);
    return;
  }
  const size_t length = reply.bytes.size();
  size_t headerLength = length;
  if (TakeOne(faults.wrongHeaderLengthOnce)) headerLength = length + 1;
  std::vector<uint8_t> frame(2 + length);
  frame[0] = static_cast<uint8_t>((sequence << 6) | kLoaderChannel | ((headerLength >> 8) & 0x07));
  frame[1] = static_cast<uint8_t>(headerLength & 0xFF);
  std::copy(reply.bytes.begin(), reply.bytes.end(), frame.begin() + 2);
  SendFrame(frame, sendAt);
  if (reply.restartLoader) QueueAction(OutAction::kRestartLoader, 0, sendAt);
}

void VirtualProbe::Impl::SendFrame(const std::vector<uint8_t>& payload, Nanos notBefore) {
  std::vector<uint8_t> wire;
  for (uint32_t i = faults.noiseBeforeFrame.load(); i > 0; --i) wire.push_back(RandomNoiseByte());
  const double drop = faults.dropRate.load();
  const double corrupt = faults.corruptRate.load();
  const double insert = faults.insertRate.load();
  for (uint8_t b : EncodeFrame(payload)) {
    if (insert > 0 && Chance() < insert) wire.push_back(RandomByte());
    if (drop > 0 && Chance() < drop) continue;
    if (corrupt > 0 && Chance() < corrupt) b ^= static_cast<uint8_t>(1 + rng() % 255);
    wire.push_back(b);
  }
  for (uint8_t b : wire) outQueue.push_back({b, OutAction::kNone, 0, notBefore});
  std::lock_guard lock(mutex);
  ++counters.framesOut;
}

void VirtualProbe::Impl::QueueAction(OutAction action, uint32_t speed, Nanos notBefore) {
  outQueue.push_back({0, action, speed, notBefore});
}

void VirtualProbe::Impl::PumpOutput(Nanos now) {
  std::vector<uint8_t> chunk;
  while (!outQueue.empty()) {
    const OutItem& item = outQueue.front();
    Nanos start = item.notBefore;
    if (options.linePacing) start = std::max(start, outLineFreeAt);
    if (now < start) break;
    if (item.action != OutAction::kNone) {
      // Only once every byte before it has left: the reply goes out at the old speed.
      if (!chunk.empty() || !pendingWrite.empty()) break;
      if (item.action == OutAction::kSwitchSpeed) {
        lineSpeed = item.speed;
        Trace("line now at %u bit/s", item.speed);
      } else {
        lineSpeed = options.startSpeed;
        Trace("firmware restarts the loader at %u bit/s", options.startSpeed);
        std::lock_guard lock(mutex);
        loader.Restart();
      }
      decoder.Reset();
      ForgetLastRequest();
      outQueue.pop_front();
      continue;
    }
    chunk.push_back(item.value);
    if (options.linePacing) outLineFreeAt = start + ByteTime(lineSpeed);
    outQueue.pop_front();
  }
  if (!chunk.empty()) {
    uint32_t receive = 0, transmit = 0;
    const bool mismatch = SlaveLineSpeeds(pty.master, receive, transmit) && receive != lineSpeed;
    for (uint8_t b : chunk) {
      if (mismatch) {
        bool dropped = false;
        b = Garble(b, dropped);
        std::lock_guard lock(mutex);
        ++counters.garbledBytes;
        if (dropped) continue;
      }
      pendingWrite.push_back(b);
    }
  }
  while (!pendingWrite.empty()) {
    const ssize_t n = write(pty.master, pendingWrite.data(), pendingWrite.size());
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      break;  // the tool is not reading: wait for POLLOUT
    }
    pendingWrite.erase(pendingWrite.begin(), pendingWrite.begin() + n);
    std::lock_guard lock(mutex);
    counters.bytesOut += static_cast<uint64_t>(n);
  }
}

}  // namespace vanta::sim
