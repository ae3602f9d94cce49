// The virtual probe's loader: replies, identity and loader faults, without a line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/loader.h"
#include "sim/loader_model.h"

namespace vanta::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes Cmd(uint8_t code, std::initializer_list<Bytes> fields = {}) {
  Bytes out = {code};
  for (const Bytes& f : fields) out.insert(out.end(), f.begin(), f.end());
  return out;
}

Bytes ReadMemoryCmd(uint32_t address, uint16_t count) {
  return Cmd(LDR_READ_MEMORY,
             {Be32(address), {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)}});
}

Bytes ProgramCmd(uint32_t address, const Bytes& data) {
  const auto n = static_cast<uint16_t>(data.size());
  return Cmd(LDR_PROGRAM,
             {Be32(address), {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}, data});
}

class SimLoaderTest : public ::testing::Test {
 protected:
  LoaderReply Run(const Bytes& request) { return loader_.Handle(request.data(), request.size()); }
  Bytes Reply(const Bytes& request) { return Run(request).bytes; }

  FaultKnobs faults_;
  LoaderModel loader_{LoaderIdentity{0x0203, "AB12CD34", 19}, faults_};
};

TEST_F(SimLoaderTest, IdentifyReportsVersionsFromFlashAndUes) {
  Bytes reply = Reply({LDR_IDENTIFY});
  EXPECT_EQ(reply, (Bytes{'d', 0x02, 0x03, 0, 0, 0, 0, 'A', 'B', '1', '2', 'C', 'D', '3', '4'}));

  // A firmware image carries 0x16nn behind the marker; the marker alone makes it count.
  const uint8_t image[] = {0xAA, 0x55, 0x55, 0xAA, 0x16, 0x07};
  loader_.Flash().Program(FIRMWARE_SECTOR, image, 6);
  const std::string ues = LogicModel::UesBits("B6001E9123");
  loader_.Logic().ProgramUes(reinterpret_cast<const uint8_t*>(ues.data()));
  loader_.Identity().serialNumber = "AB12CD34EF";
  reply = Reply({LDR_IDENTIFY});
  ASSERT_EQ(reply.size(), 17u);
  EXPECT_EQ(reply[3], 0x16);
  EXPECT_EQ(reply[4], 0x07);
  EXPECT_EQ((reply[5] << 8) | reply[6], 9123);
  EXPECT_EQ(std::string(reply.begin() + 7, reply.end()), "AB12CD34EF");

  const uint8_t spoil = 0x00;
  loader_.Flash().Program(FIRMWARE_SECTOR + 1, &spoil, 1);  // marker broken
  EXPECT_EQ(loader_.StoredFirmwareVersion(), 0);
}

TEST_F(SimLoaderTest, ReadMemoryLayout) {
  const uint8_t data[] = {1, 2, 3};
  loader_.Flash().Program(0x01008000, data, 3);
  EXPECT_EQ(Reply(ReadMemoryCmd(0x01008000, 0)).size(), 7u);
  Bytes reply = Reply(ReadMemoryCmd(0x01008001, 3));
  ASSERT_EQ(reply.size(), 10u);
  EXPECT_EQ(reply[0], 'e');
  EXPECT_EQ(Bytes(reply.begin() + 7, reply.end()), (Bytes{2, 3, 0xFF}));
  EXPECT_EQ(Reply(ReadMemoryCmd(0x01008000, 1491)).size(), 1498u);  // the largest reply
  // Refusals carry no data, so the tool sees a wrong length.
  EXPECT_EQ(Reply(ReadMemoryCmd(0x01008000, 1492)).size(), 7u);
  EXPECT_EQ(Reply(ReadMemoryCmd(0x010FFFFF, 2)).size(), 7u);
  EXPECT_EQ(Reply({LDR_READ_MEMORY, 1, 0}).size(), 7u);
}

TEST_F(SimLoaderTest, EraseStatus) {
  struct Row {
    uint32_t address;
    uint8_t status;
  } rows[] = {
      {0x01008000, 0}, {0x010C0000, 0}, {0x01000000, 1}, {0x01100000, 1}, {0x00000000, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Reply(Cmd(LDR_ERASE_SECTOR, {Be32(row.address)})), (Bytes{'g', row.status}))
        << std::hex << row.address;
  }
  EXPECT_EQ(Reply({LDR_ERASE_SECTOR, 1, 0}), (Bytes{'g', 2}));

  faults_.failEraseSector = 0x0100C000;
  faults_.eraseSectorBusyMs = 250;
  const uint8_t zero = 0;
  loader_.Flash().Program(0x0100C000, &zero, 1);
  EXPECT_EQ(Reply(Cmd(LDR_ERASE_SECTOR, {Be32(0x0100C000)})), (Bytes{'g', 1}));
  EXPECT_EQ(loader_.Flash().Read(0x0100C000, 1), Bytes{0});  // nothing erased
  const LoaderReply ok = Run(Cmd(LDR_ERASE_SECTOR, {Be32(0x01010000)}));
  EXPECT_EQ(ok.bytes, (Bytes{'g', 0}));
  EXPECT_EQ(ok.busyMs, 250u);
}

TEST_F(SimLoaderTest, ProgramStatusAndReplyValue) {
  LoaderReply reply = Run(ProgramCmd(0x01008000, {0x12, 0x34}));
  EXPECT_EQ(reply.bytes, (Bytes{'h', 0, 0x01, 0x00, 0x80, 0x02}));
  EXPECT_EQ(loader_.Flash().Read(0x01008000, 2), (Bytes{0x12, 0x34}));

  EXPECT_EQ(Reply(ProgramCmd(0x01000000, {0}))[1], 1);     // loader sector
  EXPECT_EQ(Reply(ProgramCmd(0x010FFFFF, {0, 0}))[1], 1);  // off the end
  Bytes shortRequest = ProgramCmd(0x01008000, {1, 2, 3});
  shortRequest.pop_back();
  EXPECT_EQ(Reply(shortRequest)[1], 2);
  EXPECT_EQ(Reply(ProgramCmd(0x01008000, {}))[1], 0);
}

TEST_F(SimLoaderTest, ProgramFaultsCountRequestsAndSectors) {
  faults_.failProgramSector = 0x01040000;
  EXPECT_EQ(Reply(ProgramCmd(0x0103FFFF, {0, 0}))[1], 1);  // its last byte lands there
  EXPECT_EQ(loader_.Flash().Read(0x0103FFFF, 1), Bytes{0xFF});
  EXPECT_EQ(Reply(ProgramCmd(0x01080000, {0}))[1], 0);
  faults_.failProgramSector = -1;

  // Requests so far: 2. The third fails, the fourth stores one bit wrong but says it is fine.
  faults_.failProgramAfterWrites = 2;
  faults_.corruptProgramWrite = 3;
  EXPECT_EQ(Reply(ProgramCmd(0x010C0000, {0x55}))[1], 1);
  EXPECT_EQ(loader_.Flash().Read(0x010C0000, 1), Bytes{0xFF});
  EXPECT_EQ(Reply(ProgramCmd(0x010C0000, {0x00, 0x56}))[1], 0);
  EXPECT_EQ(loader_.Flash().Read(0x010C0000, 2), (Bytes{0x00, 0x54}));
  EXPECT_EQ(Reply(ProgramCmd(0x010C0010, {0x56}))[1], 0);
  EXPECT_EQ(loader_.Flash().Read(0x010C0010, 1), Bytes{0x56});
  EXPECT_EQ(loader_.ProgramRequestsSeen(), 5u);
}

TEST_F(SimLoaderTest, LogicCommands) {
  EXPECT_EQ(Reply({LDR_LOGIC_ACCESS, 1}).size(), 2u);
  EXPECT_EQ(Reply({LDR_LOGIC_DEVICE_TYPE}), (Bytes{'j', 19}));

  Bytes row = {LDR_LOGIC_PROGRAM_ROW, 7};
  row.resize(242, '1');
  row[2] = '0';
  EXPECT_EQ(Reply(row), (Bytes{'l', 0}));
  Bytes read = Reply({LDR_LOGIC_READ_ROW, 7});
  ASSERT_EQ(read.size(), 481u);
  std::string expected(240, '1');
  expected[0] = '0';
  EXPECT_EQ(std::string(read.begin() + 1, read.begin() + 241), expected);
  EXPECT_EQ(std::string(read.begin() + 241, read.end()), expected);
  EXPECT_EQ(Reply({LDR_LOGIC_READ_ROW, 134}).size(), 481u);

  const std::string ues = LogicModel::UesBits("B6001E9004");
  Bytes program = {LDR_LOGIC_PROGRAM_UES};
  program.insert(program.end(), ues.begin(), ues.end());
  EXPECT_EQ(Reply(program), (Bytes{'n', 0}));
  Bytes readUes = Reply({LDR_LOGIC_READ_UES});
  ASSERT_EQ(readUes.size(), 121u);
  EXPECT_EQ(std::string(readUes.begin() + 1, readUes.end()), ues);
  EXPECT_EQ(loader_.StoredLogicVersion(), 9004);

  faults_.logicEraseBusyMs = 500;
  const LoaderReply erase = Run({LDR_LOGIC_ERASE});
  EXPECT_EQ(erase.busyMs, 500u);
  EXPECT_EQ(loader_.Logic().Row(7), std::string(240, '1'));
  EXPECT_EQ(loader_.StoredLogicVersion(), 0);

  faults_.failLogicRow = 7;
  EXPECT_FALSE(Run(row).send);
  EXPECT_EQ(loader_.Logic().Row(7), std::string(240, '1'));
  row[1] = 8;
  EXPECT_TRUE(Run(row).send);

  loader_.Identity().logicDeviceType = 18;
  EXPECT_EQ(Reply({LDR_LOGIC_DEVICE_TYPE})[1], 18);
}

TEST_F(SimLoaderTest, FirmwareModeAnswersEnterLoaderWithR) {
  EXPECT_NE(Reply({LDR_ENTER_LOADER})[0], 'r');
  EXPECT_FALSE(loader_.InFirmwareMode());
  EXPECT_EQ(Reply({LDR_START_FIRMWARE}).size(), 1u);
  EXPECT_TRUE(loader_.InFirmwareMode());
  EXPECT_NE(Reply({LDR_IDENTIFY})[0], 'd');  // the firmware is no loader
  const LoaderReply r = Run({LDR_ENTER_LOADER});
  EXPECT_EQ(r.bytes, Bytes{'r'});
  EXPECT_TRUE(r.restartLoader);
  loader_.Restart();
  EXPECT_FALSE(loader_.InFirmwareMode());
  EXPECT_EQ(Reply({LDR_IDENTIFY})[0], 'd');
}

TEST_F(SimLoaderTest, WrongLengthAndEchoKnobs) {
  faults_.wrongLengthCommand = LDR_ERASE_SECTOR;
  EXPECT_EQ(Reply(Cmd(LDR_ERASE_SECTOR, {Be32(0x01008000)})), (Bytes{'g', 0, 0}));
  faults_.wrongLengthDelta = -1;
  EXPECT_EQ(Reply({LDR_IDENTIFY}).size(), 15u);  // another command: untouched
  faults_.wrongLengthCommand = LDR_IDENTIFY;
  EXPECT_EQ(Reply({LDR_IDENTIFY}).size(), 14u);
  faults_.wrongLengthCommand = -1;
  faults_.wrongEchoCommand = LDR_PROGRAM;
  const Bytes reply = Reply(ProgramCmd(0x01008000, {0}));
  EXPECT_EQ(reply.size(), 6u);
  EXPECT_NE(reply[0], 'h');
}

}  // namespace
}  // namespace vanta::sim
