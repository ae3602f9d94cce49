#pragma once
// The JEDEC fuse map of the probe's ispLSI device: 134 rows of 240 '0'/'1' after "*L00000".
#include <cstdint>
#include <string>
#include <vector>

#include "update/flow_outcome.h"
#include "update/step_view.h"

namespace vanta {

using FuseMap = std::vector<std::string>;

enum class JedecParse { Ok, NoMarker, BadRow };

// Parses a fuse map held in memory, cut into lines as the file layer reads them (80 characters a
// piece); map has 134 rows afterwards. NoMarker: no line "*L00000"; BadRow: a row of four lines
// that does not come to exactly 240 fuses (problem names its last line).
JedecParse ParseJedec(const uint8_t* text, size_t size, FuseMap& map, ParseProblem& problem);

// Reads path into map (always 134 rows afterwards). Returns 1 when every row came to exactly 240
// fuses, else 0 after its message box ("Logic: Cannot open JEDEC file!", "Logic: Illegal JEDEC
// file format!", "Illegal JEDEC file format!"), which fills failure (when given) as LogicFile.
// Status "Logic: Reading JEDEC File ...".
int ReadJedecFile(StepView& view, const std::string& path, FuseMap& map,
                  FlowOutcome* failure = nullptr);

}  // namespace vanta
