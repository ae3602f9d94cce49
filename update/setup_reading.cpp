#include "update/setup_reading.h"

#include <vector>

#include "link/flash_map.h"
#include "update/bulk_transfer.h"

namespace vanta {
namespace {

// Whole reads of the setup that may be made before two must agree.
constexpr int kSetupReads = 3;

}  // namespace

FlowOutcome ReadProbeSetup(ProbeLink& link, StoredSetup& setup) {
  BulkTransfer transfer(link);
  // The setup is read in several reads, each confirmed in itself; a fault that shows in a later
  // one says nothing to an earlier one. So when the line showed a fault anywhere, the whole setup
  // is read again and counts once two whole reads agree byte for byte.
  std::vector<uint8_t> previous;
  for (int pass = 0; pass < kSetupReads; ++pass) {
    const uint64_t faultsBefore = link.FaultsSeen();
    std::vector<uint8_t> seen;
    StoredSetup read;
    const ResultCode code = ReadStoredSetup(
        [&transfer, &seen](uint32_t address, uint32_t count, uint8_t* dest) {
          const ResultCode rc = transfer.Read(address, count, dest);
          if (rc == RESULT_OK) {
            for (int shift = 24; shift >= 0; shift -= 8) seen.push_back(address >> shift & 0xFF);
            seen.insert(seen.end(), dest, dest + count);
          }
          return rc;
        },
        read);
    if (code != RESULT_OK) {
      const TransferFailure failure = transfer.Failure();
      if (failure.code != RESULT_OK)
        return FlowOutcome::FailedAt(FlowStage::MemoryRead, code, failure.address);
      return FlowOutcome::Failed(FlowStage::MemoryRead, code);
    }
    if ((pass == 0 && link.FaultsSeen() == faultsBefore) || (pass > 0 && seen == previous)) {
      setup = std::move(read);
      return FlowOutcome::Passed();
    }
    previous = std::move(seen);
  }
  // Whole reads that kept disagreeing are replies that cannot be trusted.
  return FlowOutcome::FailedAt(FlowStage::MemoryRead, LDR_E_BAD_REPLY, SETUP_SECTOR);
}

}  // namespace vanta
