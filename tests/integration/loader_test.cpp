// Loader commands over a real pseudo-terminal against the virtual probe's loader model.
#include "link/loader.h"

#include <gtest/gtest.h>

#include <chrono>

#include "sim/virtual_probe.h"

namespace vanta {
namespace {

using Bytes = std::vector<uint8_t>;
using Steady = std::chrono::steady_clock;

class LoaderOverPty : public ::testing::Test {
 protected:
  // A probe already at 115200 answers the first LINK_SYNC: no search needed.
  void SetUp() override {
    sim::ProbeOptions options;
    options.startSpeed = 115200;
    Start(options);
  }
  void Start(sim::ProbeOptions options) {
    if (probe) {
      link.CloseLink();
      probe->Stop();
    }
    probe = std::make_unique<sim::VirtualProbe>(options);
    ASSERT_TRUE(probe->Start());
    ASSERT_EQ(link.OpenLink(probe->DevicePath(), 115200), RESULT_OK);
  }
  void TearDown() override {
    link.CloseLink();
    probe->Stop();
  }

  std::unique_ptr<sim::VirtualProbe> probe;
  ProbeLink link;
};

TEST_F(LoaderOverPty, IdentityWithBothVersionsCorrected) {
  probe->InstallFirmwareVersion(7);
  probe->InstallLogicVersion(123);
  DeviceIdentity identity;
  ASSERT_EQ(ReadIdentity(link, identity), RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 102);
  EXPECT_EQ(identity.firmwareVersion, 7);
  EXPECT_EQ(identity.logicVersion, 123);
  EXPECT_EQ(identity.serialNumber, "12345678");
  EXPECT_EQ(probe->CommandLog(), (Bytes{LDR_ENTER_LOADER, LDR_IDENTIFY}));

  probe->SetSerialNumber("AB12CD34EF");
  ASSERT_EQ(ReadIdentity(link, identity), RESULT_OK);
  EXPECT_EQ(identity.serialNumber, "AB12CD34EF");
}

TEST_F(LoaderOverPty, ErasedProbeReportsNoVersions) {
  DeviceIdentity identity;
  ASSERT_EQ(ReadIdentity(link, identity), RESULT_OK);
  EXPECT_EQ(identity.firmwareVersion, 0);
  EXPECT_EQ(identity.logicVersion, 0);
}

TEST_F(LoaderOverPty, ProbeRunningItsFirmwareIsNotInTheLoader) {
  Start({});  // its loader starts at 9600
  ASSERT_EQ(StartFirmware(link), RESULT_OK);
  ASSERT_TRUE(probe->InFirmwareMode());
  DeviceIdentity identity = {5, 5, 5, "KEEPKEEP"};
  const auto start = Steady::now();
  EXPECT_EQ(ReadIdentity(link, identity), LDR_E_NOT_IN_LOADER);
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count(),
            1000);
  EXPECT_EQ(identity.loaderVersion, 5);
  // The firmware went back to its loader at 9600: a new link finds it there.
  link.CloseLink();
  ASSERT_EQ(link.OpenLink(probe->DevicePath(), 57600), RESULT_OK);
  EXPECT_EQ(ReadIdentity(link, identity), RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 102);
}

TEST_F(LoaderOverPty, ProgramWithoutEraseIsCaughtByReadBack) {
  const Bytes first = {0x0F, 0xF0, 0x55, 0xAA};
  const Bytes second = {0xF0, 0x0F, 0xAA, 0x55};
  uint32_t value = 0;
  Bytes read(4);
  ASSERT_EQ(EraseSector(link, SETUP_SECTOR), RESULT_OK);
  ASSERT_EQ(ProgramMemory(link, SETUP_SECTOR, 4, first.data(), value), RESULT_OK);
  ASSERT_EQ(ReadMemory(link, SETUP_SECTOR, 4, read.data()), RESULT_OK);
  EXPECT_EQ(read, first);

  // Flash bits only go from 1 to 0: the second pattern over the first reads back as their AND.
  ASSERT_EQ(ProgramMemory(link, SETUP_SECTOR, 4, second.data(), value), RESULT_OK);
  ASSERT_EQ(ReadMemory(link, SETUP_SECTOR, 4, read.data()), RESULT_OK);
  EXPECT_NE(read, second);
  EXPECT_EQ(read, (Bytes{0x00, 0x00, 0x00, 0x00}));

  ASSERT_EQ(EraseSector(link, SETUP_SECTOR), RESULT_OK);
  ASSERT_EQ(ProgramMemory(link, SETUP_SECTOR, 4, second.data(), value), RESULT_OK);
  ASSERT_EQ(ReadMemory(link, SETUP_SECTOR, 4, read.data()), RESULT_OK);
  EXPECT_EQ(read, second);
}

TEST_F(LoaderOverPty, LargestRequestAndReplyCrossTheLine) {
  Bytes data(1491);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + 0x10);
  uint32_t value = 0;
  ASSERT_EQ(EraseSector(link, 0x01010000), RESULT_OK);
  ASSERT_EQ(ProgramMemory(link, 0x01010000, 1491, data.data(), value), RESULT_OK);
  Bytes read(1491);
  ASSERT_EQ(ReadMemory(link, 0x01010000, 1491, read.data()), RESULT_OK);
  EXPECT_EQ(read, data);
  EXPECT_EQ(probe->ReadFlash(0x01010000, 1491), data);
  EXPECT_EQ(ProgramMemory(link, 0x01010000, 1492, data.data(), value), SESSION_E_TOO_LONG);
  EXPECT_EQ(ReadMemory(link, 0x01010000, 0, nullptr), RESULT_OK);
}

TEST_F(LoaderOverPty, EraseAllSectorsStopsAtTheFailingThirdSector) {
  probe->Faults().failEraseSector = 0x01010000;
  probe->ClearCommandLog();
  EXPECT_EQ(EraseAllSectors(link), LDR_E_ERASE);
  EXPECT_EQ(probe->CommandLog(), Bytes(3, LDR_ERASE_SECTOR));

  probe->Faults().failEraseSector = -1;
  probe->ClearCommandLog();
  EXPECT_EQ(EraseAllSectors(link), RESULT_OK);
  EXPECT_EQ(probe->CommandLog(), Bytes(6, LDR_ERASE_SECTOR));
}

TEST_F(LoaderOverPty, ProgramFailureReportedByTheProbe) {
  probe->Faults().failProgramSector = 0x0100C000;
  uint8_t data[2] = {1, 2};
  uint32_t value = 0;
  ASSERT_EQ(EraseSector(link, 0x0100C000), RESULT_OK);
  EXPECT_EQ(ProgramMemory(link, 0x0100C000, 2, data, value), LDR_E_PROGRAM);
}

TEST_F(LoaderOverPty, RepliesOfWrongLengthOrEchoAreBadReplies) {
  sim::FaultKnobs& faults = probe->Faults();
  faults.wrongLengthCommand = LDR_ERASE_SECTOR;  // a 3-byte erase reply
  faults.wrongLengthDelta = 1;
  EXPECT_EQ(EraseSector(link, SETUP_SECTOR), LDR_E_BAD_REPLY);

  faults.wrongLengthCommand = LDR_LOGIC_READ_ROW;  // a 480-byte row reply
  faults.wrongLengthDelta = -1;
  std::string programmed = "before", erased = "before";
  ASSERT_EQ(EnterLogicAccess(link), RESULT_OK);
  EXPECT_EQ(ReadLogicRow(link, 0, programmed, erased), LDR_E_BAD_REPLY);
  EXPECT_EQ(programmed, "before");
  EXPECT_EQ(erased, "before");

  faults.wrongLengthCommand = LDR_IDENTIFY;  // a 16-byte identity reply
  faults.wrongLengthDelta = 1;
  DeviceIdentity identity = {1, 2, 3, "KEEPKEEP"};
  EXPECT_EQ(ReadIdentity(link, identity), RESULT_OK);
  EXPECT_EQ(identity.loaderVersion, 0);
  EXPECT_EQ(identity.serialNumber, "KEEPKEEP");

  faults.wrongLengthCommand = LDR_LOGIC_DEVICE_TYPE;  // the type byte is missing
  faults.wrongLengthDelta = -100;
  uint8_t type = 0;
  EXPECT_EQ(ReadLogicDeviceType(link, type), LDR_E_BAD_REPLY);
  faults.wrongLengthCommand = -1;

  faults.wrongEchoCommand = LDR_PROGRAM;
  uint8_t data[1] = {0};
  uint32_t value = 0;
  EXPECT_EQ(ProgramMemory(link, SETUP_SECTOR, 1, data, value), LDR_E_BAD_REPLY);
  faults.wrongEchoCommand = LDR_READ_MEMORY;
  EXPECT_EQ(ReadMemory(link, SETUP_SECTOR, 1, data), LDR_E_BAD_REPLY);
}

TEST_F(LoaderOverPty, LogicDeviceRoundTrip) {
  ASSERT_EQ(EnterLogicAccess(link), RESULT_OK);
  uint8_t type = 0;
  ASSERT_EQ(ReadLogicDeviceType(link, type), RESULT_OK);
  EXPECT_EQ(type, kExpectedLogicDeviceType);
  ASSERT_EQ(EraseLogic(link), RESULT_OK);

  std::string row(240, '1');
  for (size_t i = 0; i < row.size(); i += 3) row[i] = '0';
  ASSERT_EQ(ProgramLogicRow(link, 133, row), RESULT_OK);
  std::string programmed, erased;
  ASSERT_EQ(ReadLogicRow(link, 133, programmed, erased), RESULT_OK);
  EXPECT_EQ(programmed, row);
  EXPECT_EQ(erased, row);
  EXPECT_EQ(probe->LogicRows()[133], row);

  std::string ues(120, '1');
  ues[0] = ues[7] = '0';
  ASSERT_EQ(ProgramLogicUes(link, ues), RESULT_OK);
  std::string readUes;
  ASSERT_EQ(ReadLogicUes(link, readUes), RESULT_OK);
  EXPECT_EQ(readUes, ues);
  EXPECT_EQ(LeaveLogicAccess(link), RESULT_OK);

  probe->SetLogicDeviceType(20);
  ASSERT_EQ(EnterLogicAccess(link), RESULT_OK);
  ASSERT_EQ(ReadLogicDeviceType(link, type), RESULT_OK);
  EXPECT_EQ(type, 20);
  EXPECT_EQ(LeaveLogicAccess(link), RESULT_OK);
}

TEST_F(LoaderOverPty, SlowEraseIsWaitedFor) {
  // Busy times near the command's own extra time-out are still answered in time.
  probe->Faults().eraseSectorBusyMs = 2000;
  EXPECT_EQ(EraseSector(link, 0x01040000), RESULT_OK);
  EXPECT_EQ(probe->GetCounters().repeatsSeen, 0u);
}

TEST_F(LoaderOverPty, CommandsOnAClosedLinkAreRefused) {
  link.CloseLink();
  DeviceIdentity identity;
  EXPECT_EQ(ReadIdentity(link, identity), SESSION_E_CLOSED);
  EXPECT_EQ(EraseAllSectors(link), SESSION_E_CLOSED);
  EXPECT_TRUE(probe->CommandLog().empty());
}

}  // namespace
}  // namespace vanta
