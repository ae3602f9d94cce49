// Frames off the line: link-control messages (LINK_SYNC, LINK_SET_SPEED) are answered here,
// loader requests go on to the loader dispatch.
#include <algorithm>

#include "link/packing.h"
#include "sim/virtual_probe_p.h"

namespace vanta::sim {

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

}  // namespace vanta::sim
