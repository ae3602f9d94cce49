#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "link/loader.h"
#include "link/packing.h"
#include "setup/config_image.h"
#include "setup/setup_block.h"
#include "sim/virtual_probe.h"

namespace vanta {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kConfigArea = 0x10000;        // CONFIG_SECTOR up to REGISTER_IMAGE_AREA
constexpr uint32_t kConfigSectorSize = 0x40000;  // the whole 256 KiB sector
constexpr uint32_t kSetupSectorSize = 0x4000;

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A distinct byte pattern (never all 0xFF) so that a stray write or erase shows.
std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

// Every LDR_PROGRAM request that crosses the link: address, count and data.
struct ProgramRequest {
  uint32_t address;
  uint16_t count;
  std::vector<uint8_t> data;
};

class ProgramRecorder : public LinkObserver {
 public:
  void FrameSent(const uint8_t* payload, size_t count) override {
    // Payload: 2-byte header, then the request; a repeated frame is the same request again.
    if (count < 2 + 7 || payload[2] != LDR_PROGRAM) return;
    ProgramRequest request;
    GetU16(GetU32(payload + 3, request.address), request.count);
    request.data.assign(payload + 9, payload + count);
    if (!requests.empty() && requests.back().address == request.address &&
        requests.back().data == request.data) {
      return;
    }
    requests.push_back(std::move(request));
  }
  void FrameReceived(const uint8_t*, int32_t) override {}
  void SpeedChanged(uint32_t, ResultCode) override {}
  void InputPurged() override {}

  std::vector<ProgramRequest> requests;
};

class TransmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vanta-transmit-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_TRUE(probe_.Start());
    ASSERT_EQ(link_.OpenLink(probe_.DevicePath(), 115200), RESULT_OK);
    // What an earlier Transmit left: a block, a stand-alone configuration and its image.
    probe_.ProgramFlash(SETUP_SECTOR, Pattern(kSetupBlockSize, 1));
    probe_.ProgramFlash(CONFIG_SECTOR, Pattern(3000, 2));
    probe_.ProgramFlash(REGISTER_IMAGE_AREA, Pattern(500, 3));
    before_ = Flash();
    probe_.ClearCommandLog();
    link_.SetObserver(&recorder_);
  }

  void TearDown() override {
    link_.SetObserver(nullptr);
    link_.CloseLink();
    probe_.Stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // The two sectors the Transmit may touch.
  std::vector<uint8_t> Flash() const {
    std::vector<uint8_t> setup = probe_.ReadFlash(SETUP_SECTOR, kSetupSectorSize);
    std::vector<uint8_t> config = probe_.ReadFlash(CONFIG_SECTOR, kConfigSectorSize);
    setup.insert(setup.end(), config.begin(), config.end());
    return setup;
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static SetupTexts Texts(const std::string& host, const std::string& file) {
    return {"192.168.1.10", "255.255.255.0", "192.168.1.1", host, file};
  }

  SetupBlock ExpectedBlock(const SetupTexts& texts) const {
    SetupBlock block;
    EXPECT_EQ(BuildSetupBlock("12345678", texts, block), RESULT_OK);
    return block;
  }

  // After success: the block at SETUP_SECTOR, then erased flash; the configuration and the image
  // each followed by erased flash, and nothing else in the configuration sector.
  void ExpectFlashHolds(const SetupBlock& block, const std::vector<uint8_t>& config,
                        const std::vector<uint8_t>& image) const {
    std::vector<uint8_t> setup(kSetupSectorSize, 0xFF);
    std::copy(block.begin(), block.end(), setup.begin());
    EXPECT_EQ(probe_.ReadFlash(SETUP_SECTOR, kSetupSectorSize), setup);
    std::vector<uint8_t> sector(kConfigSectorSize, 0xFF);
    std::copy(config.begin(), config.end(), sector.begin());
    std::copy(image.begin(), image.end(), sector.begin() + kConfigArea);
    EXPECT_TRUE(probe_.ReadFlash(CONFIG_SECTOR, kConfigSectorSize) == sector)
        << "configuration sector differs";
  }

  void ExpectFlashUnchanged() const { EXPECT_TRUE(Flash() == before_) << "flash was changed"; }

  std::string Commands() const {
    const std::vector<uint8_t> log = probe_.CommandLog();
    return std::string(log.begin(), log.end());
  }

  sim::VirtualProbe probe_;
  ProbeLink link_;
  ProgramRecorder recorder_;
  std::string dir_;
  std::vector<uint8_t> before_;
};

TEST_F(TransmitTest, WithAHostTheBlockIsWrittenVerifiedAndTheConfigurationSectorErased) {
  const SetupTexts texts = Texts("192.168.1.2", "probe.cfg");
  TransmitReport report;
  report.configBytes = 99;
  ASSERT_EQ(TransmitSetup(link_, texts, &report), RESULT_OK);
  EXPECT_FALSE(report.standAlone);
  EXPECT_EQ(report.configBytes, 0u);
  ExpectFlashHolds(ExpectedBlock(texts), {}, {});
  EXPECT_EQ(Commands(), "rdgghe");
  ASSERT_EQ(recorder_.requests.size(), 1u);
  EXPECT_EQ(recorder_.requests[0].address, SETUP_SECTOR);
  EXPECT_EQ(recorder_.requests[0].count, kSetupBlockSize);
}

TEST_F(TransmitTest, DefaultHostErasesTheOldStandAloneConfigurationAndStoresNone) {
  const SetupTexts texts = Texts("111.111.111.111", Path("missing.cfg"));
  ASSERT_EQ(TransmitSetup(link_, texts), RESULT_OK);
  const SetupBlock block = ExpectedBlock(texts);
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 20, block.begin() + 24),
            std::vector<uint8_t>(4, 0x6F));
  ExpectFlashHolds(block, {}, {});
}

TEST_F(TransmitTest, UnparsableMaskIsStoredAsAllOnesWithoutComplaint) {
  SetupTexts texts = Texts("192.168.1.2", "");
  texts.subnetMaskText = "255.255.0";
  ASSERT_EQ(TransmitSetup(link_, texts), RESULT_OK);
  EXPECT_EQ(probe_.ReadFlash(SETUP_SECTOR + 12, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST_F(TransmitTest, AllOnesHostStoresTheConfigurationAndItsRegisterImage) {
  fs::create_directory(Path("cfg"));
  const std::string config = "[NET]\nIP 1\n[REGS]\nFILE $reg.def\n#3 FILE \"$my regs.def\"\n";
  WriteFile(Path("cfg/probe.cfg"), config);
  WriteFile(Path("cfg/reg.def"), "REG A 1\n");
  WriteFile(Path("cfg/my regs.def"), "REG B 2\n");
  const SetupTexts texts = Texts("255.255.255.255", Path("cfg/probe.cfg"));
  TransmitReport report;
  ASSERT_EQ(TransmitSetup(link_, texts, &report), RESULT_OK);

  std::string image = "\x80REG A 1\n\x83REG B 2\n";
  ExpectFlashHolds(ExpectedBlock(texts), std::vector<uint8_t>(config.begin(), config.end()),
                   std::vector<uint8_t>(image.begin(), image.end()));
  EXPECT_TRUE(report.standAlone);
  EXPECT_EQ(report.configBytes, config.size());
  EXPECT_EQ(report.registerImageBytes, image.size());
  EXPECT_EQ(Commands(),
            "rdggh"
            "e"
            "h"
            "h");
  ASSERT_EQ(recorder_.requests.size(), 3u);
  EXPECT_EQ(recorder_.requests[1].address, CONFIG_SECTOR);
  EXPECT_EQ(recorder_.requests[2].address, REGISTER_IMAGE_AREA);
  EXPECT_EQ(recorder_.requests[2].count, 1024);
}

// A UTF-8 file with a byte-order mark: an accented comment naming a file stays a comment, and a
// name with an accent is opened whole.
TEST_F(TransmitTest, NonAsciiTextStaysInItsLineAndStoresNoPhantomRecord) {
  const std::string data = std::string(VANTA_TEST_DATA) + "/config/";
  const std::string path = data + "utf8_with_byte_order_mark.cfg";
  const SetupTexts texts = Texts("255.255.255.255", path);
  ASSERT_EQ(TransmitSetup(link_, texts), RESULT_OK);
  const std::vector<uint8_t> image =
      Concat({{0x80}, FileBytes(data + "a.def"), {0x82}, FileBytes(data + "r\xc3\xa9gs.def")});
  ExpectFlashHolds(ExpectedBlock(texts), FileBytes(path), image);
}

TEST_F(TransmitTest, ConfigurationPathLongerThanTheBlocksNameIsStillReadWhole) {
  const std::string sub(90, 'd');
  fs::create_directory(Path(sub));
  const std::string path = Path(sub + "/probe.cfg");
  WriteFile(path, "[REGS]\nFILE $reg.def\n");
  WriteFile(Path(sub + "/reg.def"), "R");
  TransmitReport report;
  ASSERT_EQ(TransmitSetup(link_, Texts("", path), &report), RESULT_OK);
  EXPECT_EQ(report.registerImageBytes, 2u);
  EXPECT_EQ(probe_.ReadFlash(SETUP_SECTOR + 24, 80), [&] {
    std::vector<uint8_t> name(path.begin(), path.begin() + 79);
    name.push_back(0x00);
    return name;
  }());
}

TEST_F(TransmitTest, ConfigurationGoesOutInWhole1024ByteChunksWithTheFillBehindIt) {
  const std::vector<uint8_t> config = Pattern(1500, 9);  // no "[REGS]", no 0xFF inside
  WriteFile(Path("probe.cfg"), config);
  ASSERT_EQ(TransmitSetup(link_, Texts("", Path("probe.cfg"))), RESULT_OK);
  ASSERT_EQ(recorder_.requests.size(), 3u);  // the block and two chunks, no image
  const ProgramRequest& first = recorder_.requests[1];
  const ProgramRequest& second = recorder_.requests[2];
  EXPECT_EQ(first.address, CONFIG_SECTOR);
  EXPECT_EQ(second.address, CONFIG_SECTOR + 1024);
  ASSERT_EQ(second.data.size(), 1024u);
  EXPECT_TRUE(std::equal(second.data.begin(), second.data.begin() + 476, config.begin() + 1024));
  EXPECT_EQ(std::count(second.data.begin() + 476, second.data.end(), 0xFF), 548);
  ExpectFlashHolds(ExpectedBlock(Texts("", Path("probe.cfg"))), config, {});
}

TEST_F(TransmitTest, LargestConfigurationTakes64ChunksAndOneByteMoreNothingIsErased) {
  std::vector<uint8_t> config = Pattern(65535, 4);
  WriteFile(Path("65535.cfg"), config);
  ASSERT_EQ(TransmitSetup(link_, Texts("", Path("65535.cfg"))), RESULT_OK);
  EXPECT_EQ(recorder_.requests.size(), 1u + 64u);
  EXPECT_EQ(recorder_.requests.back().address, CONFIG_SECTOR + 63 * 1024);
  ExpectFlashHolds(ExpectedBlock(Texts("", Path("65535.cfg"))), config, {});

  before_ = Flash();
  probe_.ClearCommandLog();
  WriteFile(Path("65536.cfg"), Pattern(65536, 4));
  EXPECT_EQ(TransmitSetup(link_, Texts("", Path("65536.cfg"))), SETUP_E_CONFIG_FILE);
  EXPECT_EQ(Commands(), "rd");
  ExpectFlashUnchanged();
}

// The files are read before the first erase: a bad file leaves the probe as it was.
TEST_F(TransmitTest, UnreadableFilesEndTheTransmitBeforeAnythingIsErased) {
  WriteFile(Path("missing-reg.cfg"), "[REGS]\nFILE $reg.def\nFILE $none.def\n");
  WriteFile(Path("reg.def"), "R");
  WriteFile(Path("comment.cfg"), "[REGS]\nFILE ; x.def\n");
  const struct {
    std::string host, file;
    ResultCode result;
  } cases[] = {
      {"255.255.255.255", Path("missing.cfg"), SETUP_E_CONFIG_FILE},
      {"", "", SETUP_E_CONFIG_FILE},
      {"1.2.3", dir_, SETUP_E_CONFIG_FILE},  // a directory: opens, but cannot be read
      {"", Path("missing-reg.cfg"), SETUP_E_REG_FILE},
      {"", Path("comment.cfg"), SETUP_E_REG_FILE},
  };
  for (const auto& c : cases) {
    probe_.ClearCommandLog();
    EXPECT_EQ(TransmitSetup(link_, Texts(c.host, c.file)), c.result) << c.file;
    EXPECT_EQ(Commands(), "rd") << c.file;
    ExpectFlashUnchanged();
  }
  EXPECT_TRUE(recorder_.requests.empty());
}

TEST_F(TransmitTest, ShortSerialNumberIsRefusedBeforeAnythingIsErased) {
  // An identify reply of an unexpected length leaves the serial number empty.
  probe_.Faults().wrongLengthCommand = LDR_IDENTIFY;
  EXPECT_EQ(TransmitSetup(link_, Texts("192.168.1.2", "")), SETUP_E_SERIAL);
  EXPECT_EQ(Commands(), "rd");
  ExpectFlashUnchanged();
}

TEST_F(TransmitTest, ClosedLinkFailsWithoutTouchingTheProbe) {
  link_.CloseLink();
  EXPECT_EQ(TransmitSetup(link_, Texts("192.168.1.2", "")), SESSION_E_CLOSED);
  EXPECT_EQ(Commands(), "");
  ExpectFlashUnchanged();
}

TEST_F(TransmitTest, ProbeRunningItsFirmwareIsRefusedBeforeAnythingIsErased) {
  ASSERT_EQ(StartFirmware(link_), RESULT_OK);
  probe_.ClearCommandLog();
  EXPECT_EQ(TransmitSetup(link_, Texts("192.168.1.2", "")), LDR_E_NOT_IN_LOADER);
  ExpectFlashUnchanged();
}

TEST_F(TransmitTest, EraseFailuresStopAtTheFailingSector) {
  probe_.Faults().failEraseSector = SETUP_SECTOR;
  EXPECT_EQ(TransmitSetup(link_, Texts("192.168.1.2", "")), LDR_E_ERASE);
  EXPECT_EQ(Commands(), "rdg");  // the configuration sector is not attempted
  ExpectFlashUnchanged();

  probe_.Faults().failEraseSector = CONFIG_SECTOR;
  probe_.ClearCommandLog();
  EXPECT_EQ(TransmitSetup(link_, Texts("192.168.1.2", "")), LDR_E_ERASE);
  EXPECT_EQ(Commands(), "rdgg");
  EXPECT_EQ(probe_.ReadFlash(SETUP_SECTOR, kSetupSectorSize),
            std::vector<uint8_t>(kSetupSectorSize, 0xFF));
}

TEST_F(TransmitTest, ABlockThatReadsBackDifferentlyIsAVerifyFailure) {
  probe_.Faults().corruptProgramWrite = 0;
  EXPECT_EQ(TransmitSetup(link_, Texts("192.168.1.2", "")), LDR_E_VERIFY);
  EXPECT_EQ(Commands(), "rdgghe");
}

TEST_F(TransmitTest, ChunkFailureEndsTheConfigurationWithTheProgramCode) {
  WriteFile(Path("probe.cfg"), Pattern(3000, 5));
  probe_.Faults().failProgramAfterWrites = 2;  // block, first chunk, then the second fails
  EXPECT_EQ(TransmitSetup(link_, Texts("", Path("probe.cfg"))), LDR_E_PROGRAM);
  EXPECT_EQ(Commands(), "rdgghehh");
}

}  // namespace
}  // namespace vanta
