// Loader requests: repeats, the reply cache, busy times and the reply faults around the loader
// model.
#include <algorithm>
#include <string>

#include "link/loader.h"
#include "link/packing.h"
#include "sim/virtual_probe_p.h"

namespace vanta::sim {

namespace {

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

// The loader's own name of a command, for the trace.
const char* CommandName(uint8_t code) {
  const char* name = LoaderCommandName(code);
  return name != nullptr ? name : "unknown command";
}

}  // namespace

bool VirtualProbe::Impl::CoversSilentAddress(const std::vector<uint8_t>& payload) {
  const int64_t silentAt = faults.silentAtAddress.load();
  if (silentAt < 0 || payload.size() < 9) return false;
  if (payload[2] != faults.silentAtAddressCommand.load()) return false;
  uint32_t address = 0;
  uint16_t count = 0;
  GetU16(GetU32(payload.data() + 3, address), count);
  if (silentAt < address || silentAt >= int64_t{address} + count) return false;
  return TakeOne(faults.silentAtAddressCount);
}

void VirtualProbe::Impl::HandleLoaderRequest(const std::vector<uint8_t>& payload, bool quiet,
                                             Nanos now) {
  const uint8_t sequence = payload[0] >> 6;
  const bool repeat = haveLast && payload == lastRequest;
  if (CoversSilentAddress(payload)) quiet = true;
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
      reply.eraseWhenDone = -1;
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
  if (reply.eraseWhenDone >= 0) {
    QueueAction(OutAction::kEraseSector, static_cast<uint32_t>(reply.eraseWhenDone), sendAt);
  }
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

}  // namespace vanta::sim
