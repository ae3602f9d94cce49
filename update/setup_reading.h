#pragma once
// What the probe holds of its network setup, read for a user to see or keep: the setup block and,
// for a stand-alone setup, the configuration file and register image beside it.
#include "link/link_session.h"
#include "setup/stored_setup.h"
#include "update/flow_outcome.h"

namespace vanta {

// Reads it in adaptive pieces, confirmed by a second read while the line shows faults: what is
// shown or extracted may be all the user has of the setup. A failure is a MemoryRead outcome,
// with the address where a piece gave up when one did.
FlowOutcome ReadProbeSetup(ProbeLink& link, StoredSetup& setup);

}  // namespace vanta
