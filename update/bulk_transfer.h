#pragma once
// Bulk reads and writes of probe memory for the command line's opt-in paths (--fast, --verify,
// read-memory, backup). Pieces start at 1024 bytes, halve after a piece fails (a size that has got
// through before: after a second loss at one address) and grow again after a run of successes;
// each piece is one attempt with a reply wait sized to it, and a lost piece is
// sent again as a new transaction, a bounded number of times. Writing the same bytes again is safe
// on this flash (programming only clears bits), so a write whose reply was lost may be repeated.
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "link/link_session.h"
#include "link/result_codes.h"

namespace vanta {

inline constexpr uint32_t kLargestPiece = 1024;
inline constexpr uint32_t kSmallestReadPiece = 16;
inline constexpr uint32_t kSmallestWritePiece = 32;
inline constexpr int kTriesPerPiece = 8;    // transactions for one address before giving up
inline constexpr int kSuccessesToGrow = 8;  // pieces in a row before the piece doubles again
inline constexpr int kProvenToKeep = 2;     // pieces through at a size before a loss may keep it

// Bytes moved so far by the call that reports.
using TransferProgress = std::function<void(uint32_t done)>;

// What stopped a transfer: the first address that could not be moved and the code of its last
// try (a write the probe refused is tried again like a lost one).
struct TransferFailure {
  uint32_t address = 0;
  ResultCode code = RESULT_OK;
  bool writing = false;  // the address could not be written (else: not read)
};

// What a transfer did, for benchmarks and tests.
struct TransferStats {
  uint64_t pieces = 0;         // transactions sent
  uint64_t failedPieces = 0;   // of these, the ones that failed
  uint64_t failedMs = 0;       // time spent on the ones that failed
  uint64_t confirmReads = 0;   // reads made to confirm a piece read before
  uint64_t disagreements = 0;  // reads of a piece that matched none before it
  uint32_t smallestPiece = kLargestPiece;
};

// Write pieces while the line has shown more than one fault lately (ProbeLink::LineNoisy): a fault
// the frame's XOR byte cannot see (two flips of one bit position) grows with the square of the
// frame's length, so smaller frames put fewer wrong bytes into the flash for the read-back to find.
inline constexpr uint32_t kFaultyLineWritePiece = 64;

// Keeps the piece sizes and the probe's observed working time between calls, so that the runs of
// one image go on at the size the line allows.
class BulkTransfer {
 public:
  explicit BulkTransfer(ProbeLink& link);

  // count bytes from address into out. RESULT_OK, or the code of the piece that failed with
  // Failure() naming its address.
  //
  // Confirmed reads: the frame's one XOR byte lets two flips of one bit position pass, so while
  // the line has shown faults lately (ProbeLink::LineRecentlyFaulty) a piece counts only once two
  // reads of it agree; on a line that has been clean for a while such pairs do not come alone,
  // and every piece is read once. With expected (the bytes the caller will compare against, at
  // least count of them) a piece that equals them counts at once: the line would have had to
  // change wrong flash into exactly the right bytes. A piece that differs from them counts only
  // once two reads agree, on a clean line too. Reads of one piece that keep disagreeing count
  // against its tries and end in LDR_E_BAD_REPLY naming the address; no unconfirmed byte is
  // delivered. A line that turns faulty during the read may have let such a pair through in a
  // piece taken on one read before the first fault showed: when the line showed a fault, every
  // piece of this read taken on one read is read once more and counts only as a confirmed read
  // against the bytes taken, so the bytes delivered never rest on one read of a faulty line.
  ResultCode Read(uint32_t address, uint32_t count, uint8_t* out,
                  const TransferProgress& progress = {}, const uint8_t* expected = nullptr);
  // count bytes of data to address; a piece whose length is no multiple of 4 is padded with 0xFF,
  // which leaves the flash as it is. Results as Read.
  ResultCode Write(uint32_t address, const uint8_t* data, uint32_t count,
                   const TransferProgress& progress = {});

  const TransferFailure& Failure() const { return failure_; }
  const TransferStats& Stats() const { return stats_; }

 private:
  // One direction's adaptive state.
  struct Pacing {
    uint32_t piece;
    uint32_t smallest;
    uint32_t extraMs;  // the command's own allowance, the most the probe may take
    uint32_t busyMs;   // the allowance now: learnt from the replies seen
    int successes = 0;
    int proven = 0;  // pieces through at this size, up to kProvenToKeep
  };
  template <typename Send>
  ResultCode Move(Pacing& pacing, uint32_t address, uint32_t count, size_t overhead,
                  const TransferProgress& progress, Send send);

  // Reads of the piece under way that no other read has matched yet.
  struct Candidate {
    uint32_t address;
    std::vector<uint8_t> bytes;
  };
  // The outcome of one read of a piece: RESULT_OK when it counts, kUnconfirmed when it is the
  // first read of it, kDisagrees when it matches no read before it, else the read's code.
  ResultCode Confirm(uint32_t at, const uint8_t* bytes, uint32_t piece, const uint8_t* expected,
                     uint8_t* out);

  ProbeLink& link_;
  std::vector<Candidate> candidates_;
  // Pieces of the read under way taken on one read of a line that had shown no fault lately:
  // address and length.
  std::vector<std::pair<uint32_t, uint32_t>> singles_;
  Pacing read_;
  Pacing write_;
  TransferFailure failure_;
  TransferStats stats_;
};

// Reads count bytes of probe memory from address into out with adaptive, confirmed pieces (a fresh
// BulkTransfer; expected as for BulkTransfer::Read). RESULT_OK, or the failing piece's code with
// failure (when given) naming the address that could not be read.
ResultCode ReadFlashAdaptive(ProbeLink& link, uint32_t address, uint32_t count, uint8_t* out,
                             const TransferProgress& progress = {},
                             TransferFailure* failure = nullptr, const uint8_t* expected = nullptr);

}  // namespace vanta
