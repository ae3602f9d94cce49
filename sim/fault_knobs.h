#pragma once
// Named fault knobs of the virtual probe, shared by vanta7-sim's options, the tests and the soak.
#include <atomic>
#include <cstdint>

namespace vanta::sim {

struct FaultKnobs {
  // Line faults, per byte the probe sends (rates 0..1).
  std::atomic<double> dropRate{0};            // byte vanishes
  std::atomic<double> corruptRate{0};         // byte changes value (XOR with 1..255)
  std::atomic<double> bitFlipRate{0};         // one random bit of the byte flips
  std::atomic<double> insertRate{0};          // a random byte appears before it
  std::atomic<uint32_t> noiseBeforeFrame{0};  // random non-DLE bytes before each reply frame
  // The Nth frame from now (0: the next) has bit 7 of its last two payload bytes flipped: two
  // flips of one bit position, which its XOR byte does not see.
  std::atomic<int32_t> cancellingFlipsInFrame{-1};
  std::atomic<double> requestCorruptRate{0};  // a byte the probe receives changes value
  std::atomic<double> requestBitFlipRate{0};  // one random bit of a byte the probe receives flips

  // Replies.
  std::atomic<int32_t> silentForRequests{0};   // next N request frames (link control too): no reply
  std::atomic<int32_t> silentFromCommand{-1};  // no reply from CommandLog() entry N on
  std::atomic<bool> silent{false};             // answers nothing at all
  std::atomic<int32_t> hangUpAfterBytes{-1};   // closes the line once N more bytes came in
  std::atomic<int32_t> wrongLengthCommand{-1};  // this command code's reply gets a wrong length
  std::atomic<int32_t> wrongLengthDelta{1};     // ... longer by this many bytes (negative: shorter)
  std::atomic<int32_t> wrongEchoCommand{-1};    // this command code's reply gets a wrong echo
  std::atomic<int32_t> wrongHeaderLengthOnce{0};  // next N loader replies: header length + 1
  // The next silentAtAddressCount requests of silentAtAddressCommand (LDR_READ_MEMORY or
  // LDR_PROGRAM) whose bytes cover this address get no reply (a write is still carried out).
  std::atomic<int64_t> silentAtAddress{-1};
  std::atomic<int32_t> silentAtAddressCount{0};
  std::atomic<int32_t> silentAtAddressCommand{101};

  // Loader status failures.
  std::atomic<int64_t> failEraseSector{-1};         // erase of this sector address reports status 1
  std::atomic<int64_t> failProgramSector{-1};       // program into this sector reports status 1
  std::atomic<int32_t> failProgramAfterWrites{-1};  // the Nth LDR_PROGRAM (0-based) fails
  std::atomic<int32_t> corruptProgramWrite{-1};     // the Nth LDR_PROGRAM stores one bit wrong
  std::atomic<int32_t> failLogicRow{-1};            // LDR_LOGIC_PROGRAM_ROW of this row: no reply
  std::atomic<int32_t> linkSetSpeedReplyLength{7};  // bytes in the LINK_SET_SPEED reply

  // Busy times of the modelled operations, in milliseconds.
  std::atomic<uint32_t> eraseSectorBusyMs{0};
  std::atomic<int64_t> eraseBusyFromSector{0};  // only erases at or above this address take it
  std::atomic<uint32_t> programBusyMs{0};
  std::atomic<uint32_t> logicEraseBusyMs{0};
  std::atomic<uint32_t> logicRowBusyMs{0};
};

}  // namespace vanta::sim
