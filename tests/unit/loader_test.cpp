#include "link/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/support/fake_port.h"

namespace vanta {
namespace {

using test::Bytes;
using test::FakeClock;
using test::FakePort;
using test::FakeProbe;

TEST(LoaderVersions, FirmwareCorrection) {
  const std::pair<uint16_t, uint16_t> cases[] = {
      {0x1605, 5}, {0xD6FF, 255}, {0x1700, 0}, {0xC000, 0}, {0x0000, 0},
      {0x1600, 0}, {0x16FF, 255}, {0xD601, 1}, {0x15FF, 0}, {0xFFFF, 0}};
  for (auto [stored, corrected] : cases) {
    EXPECT_EQ(CorrectFirmwareVersion(stored), corrected) << std::hex << stored;
  }
}

TEST(LoaderVersions, LogicCorrection) {
  const std::pair<uint16_t, uint16_t> cases[] = {{9000, 0}, {9123, 123}, {9999, 999}, {10000, 0},
                                                 {8999, 0}, {0, 0},      {65535, 0}};
  for (auto [stored, corrected] : cases)
    EXPECT_EQ(CorrectLogicVersion(stored), corrected) << stored;
}

Bytes IdentityReply(const std::string& serial, uint16_t loader = 0x0102, uint16_t firmware = 0x1605,
                    uint16_t logic = 9123) {
  // Sized once: growing a vector made from a brace list trips a false -Warray-bounds in g++ 12.
  Bytes reply(7 + serial.size());
  reply[0] = 'd';
  reply[1] = static_cast<uint8_t>(loader >> 8);
  reply[2] = static_cast<uint8_t>(loader);
  reply[3] = static_cast<uint8_t>(firmware >> 8);
  reply[4] = static_cast<uint8_t>(firmware);
  reply[5] = static_cast<uint8_t>(logic >> 8);
  reply[6] = static_cast<uint8_t>(logic);
  std::copy(serial.begin(), serial.end(), reply.begin() + 7);
  return reply;
}

TEST(LoaderIdentity, DecodeByReplyLength) {
  DeviceIdentity identity;
  EXPECT_EQ(DecodeIdentityReply(IdentityReply("A1B2C3D4").data(), 15, identity), RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 0x0102);
  EXPECT_EQ(identity.firmwareVersion, 5);
  EXPECT_EQ(identity.logicVersion, 123);
  EXPECT_EQ(identity.serialNumber, "A1B2C3D4");

  EXPECT_EQ(DecodeIdentityReply(IdentityReply("0123456789", 7, 0xD6FF, 9999).data(), 17, identity),
            RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 7);
  EXPECT_EQ(identity.firmwareVersion, 255);
  EXPECT_EQ(identity.logicVersion, 999);
  EXPECT_EQ(identity.serialNumber, "0123456789");

  // Neither 15 nor 17 bytes: versions zeroed, serial number kept, success.
  EXPECT_EQ(DecodeIdentityReply(IdentityReply("XXXXXXXXX").data(), 16, identity), RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 0);
  EXPECT_EQ(identity.firmwareVersion, 0);
  EXPECT_EQ(identity.logicVersion, 0);
  EXPECT_EQ(identity.serialNumber, "0123456789");

  // Wrong echo: nothing changes.
  const DeviceIdentity before = {3, 4, 5, "KEEPKEEP"};
  identity = before;
  Bytes wrongEcho = IdentityReply("A1B2C3D4");
  wrongEcho[0] = 'e';
  EXPECT_EQ(DecodeIdentityReply(wrongEcho.data(), 15, identity), LDR_E_BAD_REPLY);
  EXPECT_EQ(identity.loaderVersion, 3);
  EXPECT_EQ(identity.serialNumber, "KEEPKEEP");
}

TEST(LoaderNames, EveryCommandHasItsName) {
  EXPECT_STREQ(LoaderCommandName(LDR_IDENTIFY), "LDR_IDENTIFY");
  EXPECT_STREQ(LoaderCommandName(LDR_ENTER_LOADER), "LDR_ENTER_LOADER");
  int named = 0;
  for (int code = 0; code < 256; ++code) named += LoaderCommandName(code) != nullptr;
  EXPECT_EQ(named, 13);
  EXPECT_EQ(LoaderCommandName(102), nullptr);
}

class Loader : public ::testing::Test {
 protected:
  Loader() {
    auto fake = std::make_unique<FakePort>(clock);
    port = fake.get();
    link = std::make_unique<ProbeLink>(std::move(fake), clock);
    probe = std::make_unique<FakeProbe>(*port, clock, 115200);
    probe->loader = [this](const Bytes& request) -> std::optional<Bytes> {
      requests.push_back(request);
      if (replies.empty()) return std::nullopt;
      Bytes reply = replies.front();
      replies.erase(replies.begin());
      return reply;
    };
  }
  void SetUp() override {
    ASSERT_EQ(link->OpenLink("fake", 115200), RESULT_OK);
    port->readTimeouts.clear();
  }

  FakeClock clock{100};
  FakePort* port = nullptr;
  std::unique_ptr<ProbeLink> link;
  std::unique_ptr<FakeProbe> probe;
  std::vector<Bytes> requests;  // loader requests as received, header removed
  std::vector<Bytes> replies;   // reply bodies to give, in order; none left: silence
};

const std::string kRow0 = std::string(120, '0') + std::string(120, '1');
const std::string kUes = "B6001E9123" + std::string(110, '1');

struct CommandCase {
  const char* name;
  std::function<ResultCode(ProbeLink&)> call;
  Bytes request;
  uint32_t extraMs;
};

Bytes Concat(Bytes head, const std::string& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

ResultCode Bare(ProbeLink& link, const Bytes& request) {
  const int32_t result = TransactCommand(link, request.data(), request.size());
  return result < 0 ? result : RESULT_OK;
}

// With a silent probe every command sends its request three times and waits its reply time-out,
// which carries the command's own extra time.
TEST_F(Loader, EveryCommandSendsItsRequestWithItsTimeOut) {
  uint8_t data[3] = {0xA1, 0xB2, 0xC3};
  uint8_t dest[4];
  uint32_t value = 0;
  uint8_t type = 0;
  std::string a, b;
  const CommandCase cases[] = {
      {"identify",
       [&](ProbeLink& l) {
         DeviceIdentity i;
         return ReadIdentity(l, i);
       },
       {114},
       10},
      {"read memory",
       [&](ProbeLink& l) { return ReadMemory(l, 0x01008000, 0x0068, dest); },
       {101, 0x01, 0x00, 0x80, 0x00, 0x00, 0x68},
       10},
      {"erase sector",
       [&](ProbeLink& l) { return EraseSector(l, 0x010C0000); },
       {103, 0x01, 0x0C, 0x00, 0x00},
       10000},
      {"program",
       [&](ProbeLink& l) { return ProgramMemory(l, 0x01040004, 3, data, value); },
       {104, 0x01, 0x04, 0x00, 0x04, 0x00, 0x03, 0xA1, 0xB2, 0xC3},
       1000},
      {"enter logic access", [&](ProbeLink& l) { return EnterLogicAccess(l); }, {105, 1}, 100},
      {"leave logic access", [&](ProbeLink& l) { return LeaveLogicAccess(l); }, {105, 0}, 100},
      {"device type", [&](ProbeLink& l) { return ReadLogicDeviceType(l, type); }, {106}, 100},
      {"read row", [&](ProbeLink& l) { return ReadLogicRow(l, 133, a, b); }, {107, 133}, 100},
      {"program row", [&](ProbeLink& l) { return ProgramLogicRow(l, 7, kRow0 + "xyz"); },
       Concat({108, 7}, kRow0), 300},
      {"read UES", [&](ProbeLink& l) { return ReadLogicUes(l, a); }, {109}, 100},
      {"program UES", [&](ProbeLink& l) { return ProgramLogicUes(l, kUes); }, Concat({110}, kUes),
       300},
      {"erase logic", [&](ProbeLink& l) { return EraseLogic(l); }, {112}, 600},
      {"start firmware", [&](ProbeLink& l) { return StartFirmware(l); }, {113}, 200},
      // A bare request (a link check times these) gets its command's time too.
      {"bare identify", [&](ProbeLink& l) { return Bare(l, {100}); }, {100}, 1000},
      {"bare code the tool does not send", [&](ProbeLink& l) { return Bare(l, {102}); }, {102}, 0},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    requests.clear();
    port->readTimeouts.clear();
    EXPECT_EQ(c.call(*link), SESSION_E_NO_REPLY);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], c.request);
    const uint32_t timeout =
        static_cast<uint32_t>((c.request.size() + 1502) * 10000 / 115200) + c.extraMs + 200;
    EXPECT_EQ(port->readTimeouts, std::vector<uint32_t>(3, timeout));
  }
}

TEST_F(Loader, IdentityReadAfterLoaderEntry) {
  replies = {{0x00}, IdentityReply("0123456789", 0x0105, 0x1607, 9042)};
  DeviceIdentity identity;
  ASSERT_EQ(ReadIdentity(*link, identity), RESULT_OK);
  EXPECT_EQ(requests, (std::vector<Bytes>{{114}, {100}}));
  EXPECT_EQ(identity.loaderVersion, 0x0105);
  EXPECT_EQ(identity.firmwareVersion, 7);
  EXPECT_EQ(identity.logicVersion, 42);
  EXPECT_EQ(identity.serialNumber, "0123456789");
}

TEST_F(Loader, FirmwareAnsweringLoaderEntryGivesNotInLoaderAfterAWait) {
  replies = {{'r', 0x00}};
  DeviceIdentity identity = {9, 9, 9, "KEEPKEEP"};
  const uint64_t sleptBefore = clock.slept;
  EXPECT_EQ(ReadIdentity(*link, identity), LDR_E_NOT_IN_LOADER);
  EXPECT_EQ(clock.slept - sleptBefore, 1001u);  // the full second, proven by the next tick
  EXPECT_EQ(requests.size(), 1u);
  EXPECT_EQ(identity.loaderVersion, 9);
  EXPECT_EQ(identity.serialNumber, "KEEPKEEP");
}

TEST_F(Loader, EmptyLoaderEntryReplyIsNotTakenForTheFirmware) {
  // An earlier reply leaves 'r' in the shared buffer; an empty reply must not be read as it.
  replies = {{'r'}};
  DeviceIdentity identity;
  ASSERT_EQ(ReadIdentity(*link, identity), LDR_E_NOT_IN_LOADER);
  replies = {{}, IdentityReply("ABCDEFGH")};
  EXPECT_EQ(ReadIdentity(*link, identity), RESULT_OK);
  EXPECT_EQ(identity.serialNumber, "ABCDEFGH");
}

TEST_F(Loader, IdentityReplyOfOddLengthKeepsTheSerialNumber) {
  Bytes sixteen = IdentityReply("ABCDEFGHI");
  replies = {{0}, IdentityReply("ABCDEFGH"), {0}, sixteen, {0}, {'x'}};
  DeviceIdentity identity;
  ASSERT_EQ(ReadIdentity(*link, identity), RESULT_OK);
  ASSERT_EQ(ReadIdentity(*link, identity), RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 0);
  EXPECT_EQ(identity.firmwareVersion, 0);
  EXPECT_EQ(identity.logicVersion, 0);
  EXPECT_EQ(identity.serialNumber, "ABCDEFGH");
  ASSERT_EQ(ReadIdentity(*link, identity), RESULT_OK);  // one byte: also not 15 or 17
  EXPECT_EQ(identity.serialNumber, "ABCDEFGH");
}

TEST_F(Loader, SessionFailuresPassThroughAndWriteNoOutValue) {
  uint8_t dest[2] = {0x55, 0x55};
  EXPECT_EQ(ReadMemory(*link, 0x01000000, 2, dest), SESSION_E_NO_REPLY);
  EXPECT_EQ(dest[0], 0x55);
  link->CloseLink();
  EXPECT_EQ(ReadMemory(*link, 0x01000000, 2, dest), SESSION_E_CLOSED);
  DeviceIdentity identity = {1, 2, 3, "KEEPKEEP"};
  EXPECT_EQ(ReadIdentity(*link, identity), SESSION_E_CLOSED);
  EXPECT_EQ(identity.loaderVersion, 1);
  EXPECT_EQ(EraseAllSectors(*link), SESSION_E_CLOSED);
  EXPECT_EQ(StartFirmware(*link), SESSION_E_CLOSED);
}

struct ReplyCase {
  const char* name;
  Bytes reply;
  ResultCode result;
};

TEST_F(Loader, EraseReplyChecks) {
  const ReplyCase cases[] = {{"erased", {'g', 0}, RESULT_OK},
                             {"status failure", {'g', 1}, LDR_E_ERASE},
                             {"three bytes", {'g', 0, 0}, LDR_E_BAD_REPLY},
                             {"one byte", {'g'}, LDR_E_BAD_REPLY},
                             {"wrong echo", {'h', 0}, LDR_E_BAD_REPLY},
                             {"wrong echo before status", {'h', 1}, LDR_E_BAD_REPLY}};
  for (const ReplyCase& c : cases) {
    replies = {c.reply};
    EXPECT_EQ(EraseSector(*link, SETUP_SECTOR), c.result) << c.name;
  }
}

TEST_F(Loader, ProgramReplyChecksAndValue) {
  uint8_t data[1] = {0};
  const ReplyCase cases[] = {{"programmed", {'h', 0, 0x12, 0x34, 0x56, 0x78}, RESULT_OK},
                             {"status failure", {'h', 2, 0x12, 0x34, 0x56, 0x78}, LDR_E_PROGRAM},
                             {"five bytes", {'h', 0, 0x12, 0x34, 0x56}, LDR_E_BAD_REPLY},
                             {"seven bytes", {'h', 0, 1, 2, 3, 4, 5}, LDR_E_BAD_REPLY},
                             {"wrong echo", {'g', 0, 1, 2, 3, 4}, LDR_E_BAD_REPLY}};
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t value = 0xEEEEEEEE;
    replies = {c.reply};
    EXPECT_EQ(ProgramMemory(*link, 0x01008000, 1, data, value), c.result);
    // The value also reaches the caller when the probe reports a failure.
    EXPECT_EQ(value, c.result == LDR_E_BAD_REPLY ? 0xEEEEEEEE : 0x12345678);
  }
}

TEST_F(Loader, ProgramTakesAtMost1491DataBytes) {
  Bytes data(1492, 0x5A);
  uint32_t value = 0;
  replies = {{'h', 0, 0, 0, 0, 0}};
  EXPECT_EQ(ProgramMemory(*link, 0x01010000, 1491, data.data(), value), RESULT_OK);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].size(), 1498u);
  EXPECT_EQ(requests[0][5], 0x05);  // count 1491 = 0x05D3
  EXPECT_EQ(requests[0][6], 0xD3);

  const uint8_t counter = link->Counter();
  port->writes.clear();
  EXPECT_EQ(ProgramMemory(*link, 0x01010000, 1492, data.data(), value), SESSION_E_TOO_LONG);
  EXPECT_TRUE(port->writes.empty());
  EXPECT_EQ(link->Counter(), counter);
  // A count far beyond the buffers is refused the same way, without touching them.
  EXPECT_EQ(ProgramMemory(*link, 0x01010000, 65535, data.data(), value), SESSION_E_TOO_LONG);
}

TEST_F(Loader, ReadMemoryChecksLengthAndEchoBeforeCopying) {
  uint8_t dest[3] = {0xEE, 0xEE, 0xEE};
  replies = {{'e', 1, 2, 3, 4, 5, 6, 0xA0, 0xA1, 0xA2}};
  EXPECT_EQ(ReadMemory(*link, 0x01008000, 3, dest), RESULT_OK);
  EXPECT_EQ(Bytes(dest, dest + 3), (Bytes{0xA0, 0xA1, 0xA2}));

  const ReplyCase bad[] = {
      {"one byte short", {'e', 1, 2, 3, 4, 5, 6, 0xB0, 0xB1}, LDR_E_BAD_REPLY},
      {"wrong echo", {'d', 1, 2, 3, 4, 5, 6, 0xB0, 0xB1, 0xB2}, LDR_E_BAD_REPLY}};
  for (const ReplyCase& c : bad) {
    replies = {c.reply};
    EXPECT_EQ(ReadMemory(*link, 0x01008000, 3, dest), c.result) << c.name;
    EXPECT_EQ(dest[0], 0xA0) << c.name;
  }
}

TEST_F(Loader, ReadMemoryOfNothingSendsSevenBytesAndWantsSevenBack) {
  replies = {{'e', 0, 0, 0, 0, 0, 0}, {'e', 0, 0, 0, 0, 0, 0, 0}, {'x', 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ(ReadMemory(*link, 0x01000000, 0, nullptr), RESULT_OK);
  EXPECT_EQ(requests[0].size(), 7u);
  EXPECT_EQ(ReadMemory(*link, 0x01000000, 0, nullptr), LDR_E_BAD_REPLY);
  EXPECT_EQ(ReadMemory(*link, 0x01000000, 0, nullptr), LDR_E_BAD_REPLY);
}

TEST_F(Loader, ReadRowKeepsTextsOnAShortReplyAndIgnoresByteZero) {
  std::string programmed = "old-programmed", erased = "old-erased";
  Bytes row = Concat({'?'}, kRow0 + std::string(240, '1'));
  replies = {Bytes(row.begin(), row.end() - 1)};
  EXPECT_EQ(ReadLogicRow(*link, 0, programmed, erased), LDR_E_BAD_REPLY);
  EXPECT_EQ(programmed, "old-programmed");
  EXPECT_EQ(erased, "old-erased");

  replies = {row};
  EXPECT_EQ(ReadLogicRow(*link, 0, programmed, erased), RESULT_OK);
  EXPECT_EQ(programmed, kRow0);
  EXPECT_EQ(erased, std::string(240, '1'));
}

TEST_F(Loader, ReadUesWantsExactly121Bytes) {
  std::string ues = "old";
  replies = {Concat({0}, kUes + "1")};
  EXPECT_EQ(ReadLogicUes(*link, ues), LDR_E_BAD_REPLY);
  EXPECT_EQ(ues, "old");
  replies = {Concat({0}, kUes)};
  EXPECT_EQ(ReadLogicUes(*link, ues), RESULT_OK);
  EXPECT_EQ(ues, kUes);
}

TEST_F(Loader, DeviceTypeNeedsItsByte) {
  uint8_t type = 0;
  replies = {{'j', 19}};
  EXPECT_EQ(ReadLogicDeviceType(*link, type), RESULT_OK);
  EXPECT_EQ(type, 19);
  // The shared buffer still holds 19 at byte 1: a short reply must not hand it back.
  for (const Bytes& reply : {Bytes{'j'}, Bytes{}}) {
    type = 0;
    replies = {reply};
    EXPECT_EQ(ReadLogicDeviceType(*link, type), LDR_E_BAD_REPLY) << reply.size();
    EXPECT_EQ(type, 0);
  }
}

TEST_F(Loader, UncheckedCommandsTakeAnyReplyEvenAnEmptyOne) {
  replies = {{}, {'x', 'y'}, {}, {}, {}, {}};
  EXPECT_EQ(EnterLogicAccess(*link), RESULT_OK);
  EXPECT_EQ(LeaveLogicAccess(*link), RESULT_OK);
  EXPECT_EQ(EraseLogic(*link), RESULT_OK);
  EXPECT_EQ(ProgramLogicRow(*link, 0, kRow0), RESULT_OK);
  EXPECT_EQ(ProgramLogicUes(*link, kUes), RESULT_OK);
  EXPECT_EQ(StartFirmware(*link), RESULT_OK);
}

TEST_F(Loader, ShortRowOrUesTextIsRefusedWithNothingSent) {
  EXPECT_EQ(ProgramLogicRow(*link, 0, kRow0.substr(1)), LDR_E_PROGRAM);
  EXPECT_EQ(ProgramLogicUes(*link, kUes.substr(1)), LDR_E_PROGRAM);
  EXPECT_TRUE(requests.empty());
}

TEST_F(Loader, EraseAllSectorsInOrderStoppingAtTheFirstFailure) {
  replies = std::vector<Bytes>(6, Bytes{'g', 0});
  ASSERT_EQ(EraseAllSectors(*link), RESULT_OK);
  ASSERT_EQ(requests.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    uint32_t address = (uint32_t{requests[i][1]} << 24) | (uint32_t{requests[i][2]} << 16) |
                       (uint32_t{requests[i][3]} << 8) | requests[i][4];
    EXPECT_EQ(address, kAllSectors[i]);
  }

  requests.clear();
  replies = {{'g', 0}, {'g', 0}, {'g', 1}, {'g', 0}, {'g', 0}, {'g', 0}};
  EXPECT_EQ(EraseAllSectors(*link), LDR_E_ERASE);
  EXPECT_EQ(requests.size(), 3u);
}

}  // namespace
}  // namespace vanta
