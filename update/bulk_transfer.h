#pragma once
// Bulk reads and writes of probe memory for the command line's opt-in paths (--fast, --verify,
// read-memory, backup). Pieces start at 1024 bytes, halve after a piece fails (a size that has got
// through before: after a second loss at one address) and grow again after a run of successes;
// each piece is one attempt with a reply wait sized to it, and a lost piece is
// sent again as a new transaction, a bounded number of times. Writing the same bytes again is safe
// on this flash (programming only clears bits), so a write whose reply was lost may be repeated.
#include <cstdint>
#include <functional>

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
  uint64_t pieces = 0;        // transactions sent
  uint64_t failedPieces = 0;  // of these, the ones that failed
  uint64_t failedMs = 0;      // time spent on the ones that failed
  uint32_t smallestPiece = kLargestPiece;
};

// Keeps the piece sizes and the probe's observed working time between calls, so that the runs of
// one image go on at the size the line allows.
class BulkTransfer {
 public:
  explicit BulkTransfer(ProbeLink& link);

  // count bytes from address into out. RESULT_OK, or the code of the piece that failed with
  // Failure() naming its address.
  ResultCode Read(uint32_t address, uint32_t count, uint8_t* out,
                  const TransferProgress& progress = {});
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

  ProbeLink& link_;
  Pacing read_;
  Pacing write_;
  TransferFailure failure_;
  TransferStats stats_;
};

// Reads count bytes of probe memory from address into out with adaptive pieces (a fresh
// BulkTransfer). RESULT_OK, or the failing piece's code with failure (when given) naming the
// address that could not be read.
ResultCode ReadFlashAdaptive(ProbeLink& link, uint32_t address, uint32_t count, uint8_t* out,
                             const TransferProgress& progress = {},
                             TransferFailure* failure = nullptr);

}  // namespace vanta
