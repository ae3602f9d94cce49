#pragma once
// The JEDEC fuse map of the probe's ispLSI device: 134 rows of 240 '0'/'1' after "*L00000".
#include <string>
#include <vector>

#include "update/dialog_view.h"
#include "update/flow_outcome.h"

namespace vanta {

using FuseMap = std::vector<std::string>;

// Reads path into map (always 134 rows afterwards). Returns 1 when every row came to exactly 240
// fuses, else 0 after its message box ("Logic: Cannot open JEDEC file!", "Logic: Illegal JEDEC
// file format!", "Illegal JEDEC file format!"), which fills failure (when given) as LogicFile.
// Status "Logic: Reading JEDEC File ...".
int ReadJedecFile(DialogView& view, const std::string& path, FuseMap& map,
                  FlowOutcome* failure = nullptr);

}  // namespace vanta
