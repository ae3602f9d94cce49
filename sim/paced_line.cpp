// The line as the probe sees it: bytes arrive and leave at the line rate (when paced), a byte
// sent while the two ends run at different speeds is garbled, and replies wait for their turn.
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "sim/virtual_probe_p.h"

namespace vanta::sim {

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

uint8_t VirtualProbe::Impl::Disturb(uint8_t byte, double replaceRate, double flipRate) {
  // Replacement models a receiver that loses the byte's value altogether; a disturbed line mostly
  // flips a single bit, and two such flips in one bit position cancel in the frame's XOR check.
  if (replaceRate > 0 && Chance() < replaceRate) byte ^= static_cast<uint8_t>(1 + rng() % 255);
  if (flipRate > 0 && Chance() < flipRate) byte ^= static_cast<uint8_t>(1u << (rng() % 8));
  return byte;
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
      counters.wireNanos += static_cast<uint64_t>(ByteTime(lineSpeed));
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
    value = Disturb(value, faults.requestCorruptRate.load(), faults.requestBitFlipRate.load());
    const Nanos readyAt = std::max(now, inLineFreeAt) + byteTime;
    inLineFreeAt = readyAt;
    inQueue.push_back({value, readyAt});
  }
}

void VirtualProbe::Impl::SendFrame(const std::vector<uint8_t>& payload, Nanos notBefore) {
  std::vector<uint8_t> wire;
  for (uint32_t i = faults.noiseBeforeFrame.load(); i > 0; --i) wire.push_back(RandomNoiseByte());
  const double drop = faults.dropRate.load();
  const double corrupt = faults.corruptRate.load();
  const double flip = faults.bitFlipRate.load();
  const double insert = faults.insertRate.load();
  std::vector<uint8_t> sent = payload;
  const int32_t flipsIn = faults.cancellingFlipsInFrame.load();
  if (flipsIn >= 0) {
    faults.cancellingFlipsInFrame = flipsIn - 1;
    if (flipsIn == 0 && sent.size() >= 2) {
      sent[sent.size() - 1] ^= 0x80;
      sent[sent.size() - 2] ^= 0x80;
    }
  }
  for (uint8_t b : EncodeFrame(sent)) {
    if (insert > 0 && Chance() < insert) wire.push_back(RandomByte());
    if (drop > 0 && Chance() < drop) continue;
    wire.push_back(Disturb(b, corrupt, flip));
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
      if (item.action == OutAction::kEraseSector) {
        // The erase's busy time is over: only now does the sector read erased.
        {
          std::lock_guard lock(mutex);
          loader.Flash().EraseSector(item.speed);
        }
        outQueue.pop_front();
        continue;
      }
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
    counters.wireNanos += static_cast<uint64_t>(n) * static_cast<uint64_t>(ByteTime(lineSpeed));
  }
}

}  // namespace vanta::sim
