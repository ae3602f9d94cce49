#include "sim/virtual_probe.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "sim/virtual_probe_p.h"

namespace vanta::sim {

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
  flash.EraseSector(FIRMWARE_SECTOR);
  const uint8_t head[6] = {kFirmwareMarker[0],
                           kFirmwareMarker[1],
                           kFirmwareMarker[2],
                           kFirmwareMarker[3],
                           0x16,
                           version};
  flash.Program(FIRMWARE_SECTOR, head, sizeof head);
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

}  // namespace vanta::sim
