#pragma once
// The steps that load a fuse map into the logic device and prove it. Each shows its own status
// text, wait cursor and failure message, and returns 1 (done) or 0 (failed); a failed step also
// fills failure (when given) with its stage and the failing command's code.
#include <string>

#include "link/link_session.h"
#include "update/flow_outcome.h"
#include "update/jedec.h"
#include "update/step_view.h"

namespace vanta {

int OpenLogicAccess(ProbeLink& link, StepView& view, FlowOutcome* failure = nullptr);
int CloseLogicAccess(ProbeLink& link, StepView& view, FlowOutcome* failure = nullptr);
int CheckLogicDeviceType(ProbeLink& link, StepView& view, FlowOutcome* failure = nullptr);
int EraseLogicDevice(ProbeLink& link, StepView& view, FlowOutcome* failure = nullptr);
int ProgramFuseMap(ProbeLink& link, StepView& view, const FuseMap& map, const std::string& ues,
                   FlowOutcome* failure = nullptr);
// reads: the transactions one row or UES read may take. The window reads each once (three
// attempts); with more, a read whose attempts all failed on the line is made again, and a row
// that reads different is read once more before it counts.
int VerifyFuseMap(ProbeLink& link, StepView& view, const FuseMap& map, const std::string& ues,
                  FlowOutcome* failure = nullptr, int reads = 1);

// The 120-character bit text of the first 15 characters of ues (missing ones count 0), eight
// bits a character, most significant first.
std::string ExpandUes(const std::string& ues);

}  // namespace vanta
