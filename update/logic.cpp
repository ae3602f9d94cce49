#include "update/logic.h"

#include <cstdio>

#include "link/loader.h"

namespace vanta {

namespace {

constexpr const char* kCommFailed = "Communication with Vanta failed!";

// Records a failed step where the caller asked for it; returns 0, the step's failure.
int Failed(FlowOutcome* failure, FlowStage stage, ResultCode code) {
  if (failure != nullptr) *failure = FlowOutcome::Failed(stage, code);
  return 0;
}

// One loader command under the wait cursor; a failure shows its message after the cursor ended.
template <typename Command>
int SingleCommandStep(StepView& view, FlowStage stage, FlowOutcome* failure, Command command) {
  WaitCursor cursor(view);
  const ResultCode rc = command();
  cursor.End();
  if (rc < 0) {
    ShowError(view, kCommFailed);
    return Failed(failure, stage, rc);
  }
  return 1;
}

void ShowRowPercent(StepView& view, const char* format, int row) {
  char text[80];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>((100 * row) / kFuseRows));
  view.SetStatus(text);
  view.SetProgress(static_cast<uint64_t>(row), kFuseRows, false);
}

// The steps send rows by reference; a map that is not 134 rows of 240 fuses would send bytes
// from outside the texts, so it never reaches the probe.
bool WellFormed(const FuseMap& map) {
  if (map.size() < static_cast<size_t>(kFuseRows)) return false;
  for (int r = 0; r < kFuseRows; ++r) {
    if (map[r].size() != static_cast<size_t>(kFusesPerRow)) return false;
  }
  return true;
}

}  // namespace

int OpenLogicAccess(ProbeLink& link, StepView& view, FlowOutcome* failure) {
  return SingleCommandStep(view, FlowStage::LogicAccess, failure,
                           [&link] { return EnterLogicAccess(link); });
}

int CloseLogicAccess(ProbeLink& link, StepView& view, FlowOutcome* failure) {
  return SingleCommandStep(view, FlowStage::LogicAccess, failure,
                           [&link] { return LeaveLogicAccess(link); });
}

int CheckLogicDeviceType(ProbeLink& link, StepView& view, FlowOutcome* failure) {
  uint8_t type = 0;
  if (!SingleCommandStep(view, FlowStage::LogicDeviceType, failure,
                         [&link, &type] { return ReadLogicDeviceType(link, type); })) {
    return 0;
  }
  if (type != kExpectedLogicDeviceType) {
    ShowError(view, "Logic: Unknown ispLSI device type!");
    return Failed(failure, FlowStage::LogicDeviceType, RESULT_OK);
  }
  return 1;
}

int EraseLogicDevice(ProbeLink& link, StepView& view, FlowOutcome* failure) {
  view.SetStatus("Logic: Erasing ...");
  return SingleCommandStep(view, FlowStage::LogicErase, failure,
                           [&link] { return EraseLogic(link); });
}

int ProgramFuseMap(ProbeLink& link, StepView& view, const FuseMap& map, const std::string& ues,
                   FlowOutcome* failure) {
  view.SetStatus("Logic: Programming ...");
  if (!WellFormed(map)) {
    ShowError(view, "Illegal JEDEC file format!");
    return Failed(failure, FlowStage::LogicFile, RESULT_OK);
  }
  WaitCursor cursor(view);
  for (int r = 0; r < kFuseRows; ++r) {
    const ResultCode rc = ProgramLogicRow(link, static_cast<uint8_t>(r), map[r]);
    // The percentage shows for every row, the failing one included: 0 after row 0, 99 after 133.
    ShowRowPercent(view, "Logic: Programming ... ( %u%% )", r);
    if (rc < 0) {
      cursor.End();
      ShowError(view, kCommFailed);
      return Failed(failure, FlowStage::LogicProgram, rc);
    }
  }
  const ResultCode rc = ProgramLogicUes(link, ExpandUes(ues));
  if (rc < 0) {
    cursor.End();
    ShowError(view, kCommFailed);
    return Failed(failure, FlowStage::LogicProgram, rc);
  }
  return 1;
}

int VerifyFuseMap(ProbeLink& link, StepView& view, const FuseMap& map, const std::string& ues,
                  FlowOutcome* failure, int reads) {
  view.SetStatus("Logic: Verifying ...");
  if (!WellFormed(map)) {
    ShowError(view, "Illegal JEDEC file format!");
    return Failed(failure, FlowStage::LogicFile, RESULT_OK);
  }
  // Reading changes nothing on the probe, so where the caller allows more than one transaction a
  // read lost on the line is simply made again; a row that reads different is read once more
  // before it counts, as the frame's XOR check lets some pairs of changed bytes through.
  const auto again = [&link, reads](int& made, ResultCode rc) {
    const bool lineFault = rc == SESSION_E_NO_REPLY || rc == LDR_E_BAD_REPLY;
    return ++made < reads && (rc >= 0 || (lineFault && !link.DeviceGone()));
  };
  WaitCursor cursor(view);
  std::string programmed, erased;
  for (int r = 0; r < kFuseRows; ++r) {
    ResultCode rc = RESULT_OK;
    bool differed = false;  // an earlier reading of this row differed
    for (int made = 0;;) {
      rc = ReadLogicRow(link, static_cast<uint8_t>(r), programmed, erased);
      const bool same = rc >= 0 && programmed == map[r] && erased == map[r];
      if (same || (rc >= 0 && differed) || !again(made, rc)) break;
      differed = differed || rc >= 0;
    }
    ShowRowPercent(view, "Logic: Verifying ... ( %u%% )", r);
    const char* text = nullptr;
    if (rc < 0) {
      text = kCommFailed;
    } else if (programmed != map[r]) {
      text = "Logic: Fuse map programmed verification failed!";
    } else if (erased != map[r]) {
      // Both readings are held against the same expected row.
      text = "Logic: Fuse map erased verification failed!";
    }
    if (text != nullptr) {
      cursor.End();
      ShowError(view, text);
      return Failed(failure, FlowStage::LogicVerify, rc < 0 ? rc : LDR_E_VERIFY);
    }
  }
  std::string readUes;
  ResultCode rc = RESULT_OK;
  for (int made = 0;;) {
    rc = ReadLogicUes(link, readUes);
    if (rc >= 0 || !again(made, rc)) break;
  }
  if (rc < 0) {
    cursor.End();
    ShowError(view, kCommFailed);
    return Failed(failure, FlowStage::LogicVerify, rc);
  }
  const bool same = readUes == ExpandUes(ues);
  cursor.End();
  if (!same) {
    ShowError(view, "Logic: UES verify failed!");
    return Failed(failure, FlowStage::LogicVerify, LDR_E_VERIFY);
  }
  return 1;
}

std::string ExpandUes(const std::string& ues) {
  std::string bits;
  bits.reserve(kUesBits);
  for (size_t p = 0; p < 15; ++p) {
    const auto code = p < ues.size() ? static_cast<unsigned char>(ues[p]) : 0u;
    for (int bit = 7; bit >= 0; --bit) bits.push_back((code >> bit) & 1u ? '1' : '0');
  }
  return bits;
}

}  // namespace vanta
