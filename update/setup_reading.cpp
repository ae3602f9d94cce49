#include "update/setup_reading.h"

#include "update/bulk_transfer.h"

namespace vanta {

FlowOutcome ReadProbeSetup(ProbeLink& link, StoredSetup& setup) {
  BulkTransfer transfer(link);
  const ResultCode code =
      ReadStoredSetup([&transfer](uint32_t address, uint32_t count,
                                  uint8_t* dest) { return transfer.Read(address, count, dest); },
                      setup);
  if (code == RESULT_OK) return FlowOutcome::Passed();
  const TransferFailure failure = transfer.Failure();
  if (failure.code != RESULT_OK)
    return FlowOutcome::FailedAt(FlowStage::MemoryRead, code, failure.address);
  return FlowOutcome::Failed(FlowStage::MemoryRead, code);
}

}  // namespace vanta
