#include "update/logic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/loader.h"
#include "tests/support/fake_loader.h"
#include "tests/support/image_gen.h"
#include "tests/support/recording_view.h"
#include "update/bulk_transfer.h"

namespace vanta {
namespace {

using test::Bytes;
using test::FakeLoader;
using test::RecordingView;

constexpr const char* kCommFailed = "Communication with Vanta failed!";

TEST(ExpandUes, GivesEightBitsACharacterForFifteenCharacters) {
  const std::string b6001e9 =
      "01000010"   // B
      "00110110"   // 6
      "00110000"   // 0
      "00110000"   // 0
      "00110001"   // 1
      "01000101"   // E
      "00111001";  // 9
  const std::string zeros40(40, '0');
  EXPECT_EQ(ExpandUes("B6001E9007"), b6001e9 +
                                         "00110000"
                                         "00110000"
                                         "00110111" +
                                         zeros40);
  EXPECT_EQ(ExpandUes("B6001E9012"), b6001e9 +
                                         "00110000"
                                         "00110001"
                                         "00110010" +
                                         zeros40);
  EXPECT_EQ(ExpandUes(""), std::string(120, '0'));
  EXPECT_EQ(ExpandUes("\xFF"), std::string(8, '1') + std::string(112, '0'));
  // Characters after the fifteenth are left out.
  EXPECT_EQ(ExpandUes("ABCDEFGHIJKLMNOPQR"), ExpandUes("ABCDEFGHIJKLMNO"));
  EXPECT_EQ(ExpandUes("ABCDEFGHIJKLMNO").substr(112), "01001111");
}

class LogicSteps : public ::testing::Test {
 protected:
  LogicSteps() : map(test::MakeJedecImage({}).rows) {}

  // No reply at all to requests with this code (and, for rows, this row number).
  void Silence(uint8_t code, int row = -1) {
    loader.script = [code, row](const Bytes& r, int, std::optional<Bytes>& reply) {
      reply.reset();
      return r[0] == code && (row < 0 || r[1] == row);
    };
  }
  void ExpectOnlyMessage(const std::string& text) {
    ASSERT_EQ(view.MessageTexts(), std::vector<std::string>{text});
    EXPECT_EQ(view.messages[0].waitDepth, 0);
    EXPECT_EQ(view.messages[0].buttons, MessageButtons::Ok);
  }
  void TearDown() override {
    EXPECT_EQ(view.waitDepth, 0);
    EXPECT_FALSE(view.unbalancedWait);
  }
  // Percentages of the status texts of this format, in order.
  std::vector<unsigned> Percents(const char* format) const {
    std::vector<unsigned> found;
    for (const std::string& s : view.statuses) {
      unsigned p = 0;
      if (std::sscanf(s.c_str(), format, &p) == 1) found.push_back(p);
    }
    return found;
  }

  FakeLoader loader;
  RecordingView view;
  FuseMap map;
  const std::string ues = "B6001E9012";
};

TEST_F(LogicSteps, SingleCommandStepsSendTheirCommandUnderTheWaitCursor) {
  EXPECT_EQ(OpenLogicAccess(loader.Link(), view), 1);
  EXPECT_TRUE(loader.inLogicAccess);
  EXPECT_EQ(CheckLogicDeviceType(loader.Link(), view), 1);
  EXPECT_EQ(EraseLogicDevice(loader.Link(), view), 1);
  EXPECT_EQ(CloseLogicAccess(loader.Link(), view), 1);
  EXPECT_FALSE(loader.inLogicAccess);
  EXPECT_EQ(loader.requests, (std::vector<Bytes>{{LDR_LOGIC_ACCESS, 1},
                                                 {LDR_LOGIC_DEVICE_TYPE},
                                                 {LDR_LOGIC_ERASE},
                                                 {LDR_LOGIC_ACCESS, 0}}));
  EXPECT_EQ(view.statuses, std::vector<std::string>{"Logic: Erasing ..."});
  EXPECT_EQ(view.maxWaitDepth, 1);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(LogicSteps, ACommandWithoutAnswerIsACommunicationFailure) {
  int (*steps[])(ProbeLink&, StepView&, FlowOutcome*) = {OpenLogicAccess, CloseLogicAccess,
                                                         CheckLogicDeviceType, EraseLogicDevice};
  const uint8_t codes[] = {LDR_LOGIC_ACCESS, LDR_LOGIC_ACCESS, LDR_LOGIC_DEVICE_TYPE,
                           LDR_LOGIC_ERASE};
  const FlowStage stages[] = {FlowStage::LogicAccess, FlowStage::LogicAccess,
                              FlowStage::LogicDeviceType, FlowStage::LogicErase};
  for (int i = 0; i < 4; ++i) {
    view = RecordingView();
    Silence(codes[i]);
    FlowOutcome failure;
    EXPECT_EQ(steps[i](loader.Link(), view, &failure), 0) << i;
    ExpectOnlyMessage(kCommFailed);
    EXPECT_EQ(failure.stage, stages[i]) << i;
    EXPECT_EQ(failure.code, SESSION_E_NO_REPLY) << i;
  }
}

TEST_F(LogicSteps, OnlyDeviceTypeNineteenIsAccepted) {
  for (uint8_t type : {18, 20, 0, 255}) {
    view = RecordingView();
    loader.deviceType = type;
    EXPECT_EQ(CheckLogicDeviceType(loader.Link(), view), 0);
    ExpectOnlyMessage("Logic: Unknown ispLSI device type!");
  }
}

TEST_F(LogicSteps, ProgrammingSendsEveryRowInOrderThenTheUesWithPercentagesZeroTo99) {
  ASSERT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 1);
  const std::vector<Bytes> rows = loader.Requests(LDR_LOGIC_PROGRAM_ROW);
  ASSERT_EQ(rows.size(), 134u);
  for (size_t r = 0; r < 134; ++r) {
    EXPECT_EQ(rows[r][1], r);
    EXPECT_EQ(std::string(rows[r].begin() + 2, rows[r].end()), map[r]);
  }
  EXPECT_EQ(loader.Codes().back(), LDR_LOGIC_PROGRAM_UES);
  EXPECT_EQ(loader.ues, ExpandUes(ues));
  EXPECT_EQ(loader.rows, map);
  EXPECT_EQ(view.statuses.front(), "Logic: Programming ...");
  const std::vector<unsigned> percents = Percents("Logic: Programming ... ( %u%% )");
  ASSERT_EQ(percents.size(), 134u);
  EXPECT_EQ(percents.front(), 0u);
  EXPECT_EQ(percents[67], 50u);
  EXPECT_EQ(percents.back(), 99u);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(LogicSteps, AFailureAtRow57LeavesTheLaterRowsAndTheUesUnsent) {
  Silence(LDR_LOGIC_PROGRAM_ROW, 57);
  EXPECT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 0);
  ExpectOnlyMessage(kCommFailed);
  const std::vector<Bytes> rows = loader.Requests(LDR_LOGIC_PROGRAM_ROW);
  EXPECT_EQ(rows.back()[1], 57);
  for (const Bytes& r : rows) EXPECT_LE(r[1], 57);
  EXPECT_TRUE(loader.Requests(LDR_LOGIC_PROGRAM_UES).empty());
  EXPECT_EQ(Percents("Logic: Programming ... ( %u%% )").back(), 42u);  // shown for row 57 too

  view = RecordingView();
  Silence(LDR_LOGIC_PROGRAM_UES);
  EXPECT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 0);
  ExpectOnlyMessage(kCommFailed);
}

TEST_F(LogicSteps, VerificationHoldsBothReadingsAgainstTheRowAndThenTheUes) {
  ASSERT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 1);
  view = RecordingView();
  EXPECT_EQ(VerifyFuseMap(loader.Link(), view, map, ues), 1);
  EXPECT_EQ(loader.Requests(LDR_LOGIC_READ_ROW).size(), 134u);
  EXPECT_EQ(loader.Codes().back(), LDR_LOGIC_READ_UES);
  EXPECT_EQ(view.statuses.front(), "Logic: Verifying ...");
  const std::vector<unsigned> percents = Percents("Logic: Verifying ... ( %u%% )");
  ASSERT_EQ(percents.size(), 134u);
  EXPECT_EQ(percents.back(), 99u);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(LogicSteps, AnyDifferenceInARowReadingFailsWithTheReadingsOwnMessage) {
  ASSERT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 1);
  // Each case: the row, the fuse swapped in the programmed and in the erased reading (-1 none).
  struct Case {
    int row, programmedFuse, erasedFuse;
    const char* message;
  };
  const Case cases[] = {
      {0, 0, -1, "Logic: Fuse map programmed verification failed!"},
      {70, 239, -1, "Logic: Fuse map programmed verification failed!"},
      {133, -1, 117, "Logic: Fuse map erased verification failed!"},
      {5, -1, 0, "Logic: Fuse map erased verification failed!"},
      {9, 3, 3, "Logic: Fuse map programmed verification failed!"},  // both: programmed wins
  };
  for (const Case& c : cases) {
    view = RecordingView();
    loader.ClearRequests();
    loader.script = [&c, this](const Bytes& r, int, std::optional<Bytes>& reply) {
      if (r[0] != LDR_LOGIC_READ_ROW || r[1] != c.row) return false;
      std::string programmed = map[c.row], erased = map[c.row];
      if (c.programmedFuse >= 0) programmed[c.programmedFuse] ^= 1;  // '0' <-> '1'
      if (c.erasedFuse >= 0) erased[c.erasedFuse] ^= 1;
      reply = Bytes{LDR_LOGIC_READ_ROW};
      reply->insert(reply->end(), programmed.begin(), programmed.end());
      reply->insert(reply->end(), erased.begin(), erased.end());
      return true;
    };
    EXPECT_EQ(VerifyFuseMap(loader.Link(), view, map, ues), 0) << c.row;
    ExpectOnlyMessage(c.message);
    // The first mismatching row ends the verification.
    EXPECT_EQ(loader.Requests(LDR_LOGIC_READ_ROW).size(), static_cast<size_t>(c.row + 1));
    EXPECT_TRUE(loader.Requests(LDR_LOGIC_READ_UES).empty());
  }
}

TEST_F(LogicSteps, WithMoreReadsARowLostOnTheLineIsReadAgainAndADifferenceMustShowTwice) {
  ASSERT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 1);
  // Each case: transactions a read may take, attempts of row 7 that get no answer, row 7's
  // readings that come back with a fuse swapped (after those), the result.
  struct Case {
    int reads, lost, wrong, result;
  };
  const Case cases[] = {
      {1, 2, 0, 1},  // the window's one transaction: three attempts
      {1, 3, 0, 0},
      {1, 0, 1, 0},
      {kTriesPerPiece, 3 * kTriesPerPiece - 1, 0, 1},
      {kTriesPerPiece, 3 * kTriesPerPiece, 0, 0},
      {kTriesPerPiece, 0, 1, 1},  // a reading changed on the line
      {kTriesPerPiece, 0, 2, 0},  // the row holds something else
      {kTriesPerPiece, 4, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.reads << " " << c.lost << " " << c.wrong);
    view = RecordingView();
    loader.ClearRequests();
    int lost = c.lost, wrong = c.wrong;
    loader.script = [&lost, &wrong, this](const Bytes& r, int, std::optional<Bytes>& reply) {
      if (r[0] != LDR_LOGIC_READ_ROW || r[1] != 7) return false;
      reply.reset();
      if (lost > 0) return --lost, true;
      if (wrong == 0) return false;
      --wrong;
      std::string programmed = map[7];
      programmed[100] ^= 1;  // '0' <-> '1'
      reply = Bytes{LDR_LOGIC_READ_ROW};
      reply->insert(reply->end(), programmed.begin(), programmed.end());
      reply->insert(reply->end(), map[7].begin(), map[7].end());
      return true;
    };
    EXPECT_EQ(VerifyFuseMap(loader.Link(), view, map, ues, nullptr, c.reads), c.result);
    EXPECT_EQ(loader.Requests(LDR_LOGIC_READ_UES).size(), c.result ? 1u : 0u);
    if (c.result == 0) {
      ExpectOnlyMessage(c.wrong > 0 ? "Logic: Fuse map programmed verification failed!"
                                    : kCommFailed);
    }
  }
}

TEST_F(LogicSteps, AUesReadingOtherThanTheExpandedTextFails) {
  ASSERT_EQ(ProgramFuseMap(loader.Link(), view, map, ues), 1);
  view = RecordingView();
  EXPECT_EQ(VerifyFuseMap(loader.Link(), view, map, "B6001E9013"), 0);
  ExpectOnlyMessage("Logic: UES verify failed!");

  view = RecordingView();
  Silence(LDR_LOGIC_READ_UES);
  EXPECT_EQ(VerifyFuseMap(loader.Link(), view, map, ues), 0);
  ExpectOnlyMessage(kCommFailed);

  view = RecordingView();
  Silence(LDR_LOGIC_READ_ROW, 3);
  EXPECT_EQ(VerifyFuseMap(loader.Link(), view, map, ues), 0);
  ExpectOnlyMessage(kCommFailed);
}

TEST_F(LogicSteps, AMapThatIsNotWholeNeverReachesTheProbe) {
  FuseMap shortMap = map;
  shortMap.resize(100);
  FuseMap shortRow = map;
  shortRow[20].pop_back();
  for (const FuseMap* bad : {&shortMap, &shortRow}) {
    view = RecordingView();
    EXPECT_EQ(ProgramFuseMap(loader.Link(), view, *bad, ues), 0);
    EXPECT_EQ(VerifyFuseMap(loader.Link(), view, *bad, ues), 0);
    EXPECT_EQ(view.messages.size(), 2u);
  }
  EXPECT_TRUE(loader.requests.empty());
}

}  // namespace
}  // namespace vanta
