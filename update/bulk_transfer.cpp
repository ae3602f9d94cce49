#include "update/bulk_transfer.h"

#include <algorithm>
#include <cstring>

#include "link/loader.h"

namespace vanta {

namespace {

// The least the probe is allowed for its own work once its replies have been timed; the timing
// is in whole milliseconds.
constexpr uint32_t kLeastBusyMs = 5;

// What a read of a piece can be besides counted or failed (the codes are negative).
constexpr ResultCode kUnconfirmed = 1;  // a first read: another must agree with it
constexpr ResultCode kDisagrees = 2;    // agrees with no read of the piece before it

// Line faults and lost replies are worth another try, and so is a write the probe refused: a
// request changed on the line can pass the frame's XOR check and be refused as malformed, and the
// same bytes again are safe. A closed link or a request the link refuses are not.
bool WorthAnotherTry(ResultCode code, bool writing) {
  return code == SESSION_E_NO_REPLY || code == LDR_E_BAD_REPLY || code == kDisagrees ||
         (writing && code == LDR_E_PROGRAM);
}

}  // namespace

BulkTransfer::BulkTransfer(ProbeLink& link)
    : link_(link),
      read_{kLargestPiece, kSmallestReadPiece, kReadMemoryExtraMs, kReadMemoryExtraMs},
      write_{kLargestPiece, kSmallestWritePiece, kProgramExtraMs, kProgramExtraMs} {}

template <typename Send>
ResultCode BulkTransfer::Move(Pacing& pacing, uint32_t address, uint32_t count, size_t overhead,
                              const TransferProgress& progress, Send send) {
  Clock& clock = link_.GetClock();
  uint32_t done = 0;
  int tries = 0;  // failed transactions at the current address
  while (done < count) {
    const bool writing = &pacing == &write_;
    const uint32_t cap = writing && link_.LineNoisy() ? kFaultyLineWritePiece : kLargestPiece;
    const uint32_t piece = std::min({pacing.piece, cap, count - done});
    const uint32_t at = address + done;
    const uint32_t started = clock.TickMs();
    const ResultCode rc = send(at, done, piece, pacing.busyMs);
    const uint32_t elapsed = clock.TickMs() - started;
    ++stats_.pieces;
    if (rc == RESULT_OK || rc == kUnconfirmed) {
      // The time beyond the bytes' own line time is the probe's work (and the host's latency);
      // twice that, and a little, is what the next piece may take.
      const uint32_t line = link_.LineTimeMs(piece + overhead);
      const uint32_t work = elapsed > line ? elapsed - line : 0;
      pacing.busyMs = std::clamp(2 * work + kLeastBusyMs, kLeastBusyMs, pacing.extraMs);
      if (rc == kUnconfirmed) {
        ++stats_.confirmReads;
        continue;
      }
      done += piece;
      tries = 0;
      if (pacing.proven < kProvenToKeep) ++pacing.proven;
      if (++pacing.successes >= kSuccessesToGrow && pacing.piece < kLargestPiece) {
        pacing.piece *= 2;
        pacing.successes = 0;
        pacing.proven = 0;
      }
      if (progress) progress(done);
      continue;
    }
    ++stats_.failedPieces;
    stats_.failedMs += elapsed;
    if (rc == kDisagrees) ++stats_.disagreements;
    const bool again = WorthAnotherTry(rc, writing);
    if (again && rc != SESSION_E_NO_REPLY) link_.NoteLineFault();  // the link saw the others
    if (!again || ++tries >= kTriesPerPiece) {
      // Reads that never agreed are replies that cannot be trusted.
      const ResultCode code = rc == kDisagrees ? LDR_E_BAD_REPLY : rc;
      candidates_.clear();
      failure_ = {at, code, writing};
      return code;
    }
    // On a noisy line a lone lost piece is mostly a request the probe dropped as corrupt, and a
    // longer wait would only add to its cost. Lost again at the same address, the probe may have
    // become slower than it was: from then on every try waits twice as long.
    if (rc == SESSION_E_NO_REPLY && tries >= 2) {
      pacing.busyMs = std::min(pacing.extraMs, pacing.busyMs * 2);
    }
    // A size that has got through before is given one more try before it halves: at an error
    // rate that loses one piece in four, halving at each loss keeps the pieces smaller than the
    // line allows. A size not yet proven, or a second loss at one address, halves at once.
    if (tries >= 2 || pacing.proven < kProvenToKeep) {
      const uint32_t smaller = std::max(pacing.smallest, pacing.piece / 2);
      if (smaller != pacing.piece) pacing.proven = 0;
      pacing.piece = smaller;
    }
    stats_.smallestPiece = std::min(stats_.smallestPiece, pacing.piece);
    pacing.successes = 0;
  }
  return RESULT_OK;
}

ResultCode BulkTransfer::Confirm(uint32_t at, const uint8_t* bytes, uint32_t piece,
                                 const uint8_t* expected, uint8_t* out) {
  const auto take = [&] {
    std::memcpy(out, bytes, piece);
    candidates_.clear();
    return RESULT_OK;
  };
  if (expected != nullptr && std::memcmp(bytes, expected, piece) == 0) return take();
  if (expected == nullptr && !link_.LineRecentlyFaulty() && candidates_.empty()) {
    singles_.emplace_back(at, piece);
    return take();
  }
  // Another read of the same address (the piece may have shrunk since) that agrees confirms it.
  for (const Candidate& c : candidates_) {
    if (c.address == at && c.bytes.size() >= piece &&
        std::memcmp(c.bytes.data(), bytes, piece) == 0) {
      return take();
    }
  }
  std::erase_if(candidates_, [at](const Candidate& c) { return c.address != at; });
  const bool first = candidates_.empty();
  candidates_.push_back({at, std::vector<uint8_t>(bytes, bytes + piece)});
  return first ? kUnconfirmed : kDisagrees;
}

ResultCode BulkTransfer::Read(uint32_t address, uint32_t count, uint8_t* out,
                              const TransferProgress& progress, const uint8_t* expected) {
  uint8_t bytes[kLargestPiece];
  candidates_.clear();
  singles_.clear();
  const uint64_t faultsBefore = link_.FaultsSeen();
  // A request of 9 framed bytes, a reply with 7 bytes before the data and its framing.
  constexpr size_t kOverhead = 9 + 7 + 7;
  ResultCode rc =
      Move(read_, address, count, kOverhead, progress,
           [&](uint32_t at, uint32_t offset, uint32_t piece, uint32_t busyMs) {
             const ResultCode code =
                 ReadMemoryPiece(link_, at, static_cast<uint16_t>(piece), bytes, busyMs);
             if (code != RESULT_OK) return code;
             return Confirm(at, bytes, piece, expected != nullptr ? expected + offset : nullptr,
                            out + offset);
           });
  if (rc != RESULT_OK || link_.FaultsSeen() == faultsBefore) return rc;
  // The line showed a fault during this read: the pieces taken on one read before it are read
  // once more, each counting at once when it equals what was taken and otherwise only once two
  // reads agree (their bytes then replace those taken).
  const std::vector<std::pair<uint32_t, uint32_t>> singles = std::move(singles_);
  singles_.clear();
  std::vector<uint8_t> taken;
  for (const auto& [start, length] : singles) {
    uint8_t* dest = out + (start - address);
    taken.assign(dest, dest + length);
    candidates_.clear();
    rc = Move(read_, start, length, kOverhead, {},
              [&](uint32_t at, uint32_t offset, uint32_t piece, uint32_t busyMs) {
                const ResultCode code =
                    ReadMemoryPiece(link_, at, static_cast<uint16_t>(piece), bytes, busyMs);
                if (code != RESULT_OK) return code;
                ++stats_.confirmReads;
                return Confirm(at, bytes, piece, taken.data() + offset, dest + offset);
              });
    if (rc != RESULT_OK) return rc;
  }
  return RESULT_OK;
}

ResultCode BulkTransfer::Write(uint32_t address, const uint8_t* data, uint32_t count,
                               const TransferProgress& progress) {
  uint8_t padded[kLargestPiece + 3];
  // The request's 9 bytes before the data with its framing, and a 6-byte reply with its own.
  return Move(write_, address, count, 9 + 7 + 13, progress,
              [this, data, &padded](uint32_t at, uint32_t offset, uint32_t piece, uint32_t busyMs) {
                std::memcpy(padded, data + offset, piece);
                uint32_t length = piece;
                while (length % 4 != 0) padded[length++] = 0xFF;
                return ProgramMemoryPiece(link_, at, static_cast<uint16_t>(length), padded, busyMs);
              });
}

ResultCode ReadFlashAdaptive(ProbeLink& link, uint32_t address, uint32_t count, uint8_t* out,
                             const TransferProgress& progress, TransferFailure* failure,
                             const uint8_t* expected) {
  BulkTransfer transfer(link);
  const ResultCode rc = transfer.Read(address, count, out, progress, expected);
  if (failure != nullptr) *failure = transfer.Failure();
  return rc;
}

}  // namespace vanta
