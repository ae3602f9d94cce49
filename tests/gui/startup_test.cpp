// Start-up with the real window and the settings file: what is read before the dialog opens and
// what is written after it closed, and a settings file that is corrupt, unreadable or unwritable.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/qt_application.h"
#include "app/qt_main_dialog.h"
#include "app/qt_settings_store.h"
#include "tests/gui/gui_helpers.h"

namespace vanta {
namespace {

namespace fs = std::filesystem;

// Keeps values in memory and records the keys written, in order.
class MemoryStore : public SettingsStore {
 public:
  int32_t ReadInt(const std::string&, const std::string& key, int32_t fallback) override {
    return ints.count(key) ? ints[key] : fallback;
  }
  std::string ReadText(const std::string&, const std::string& key,
                       const std::string& fallback) override {
    return texts.count(key) ? texts[key] : fallback;
  }
  bool WriteInt(const std::string&, const std::string& key, int32_t value) override {
    written.push_back(key);
    ints[key] = value;
    return true;
  }
  bool WriteText(const std::string&, const std::string& key, const std::string& value) override {
    written.push_back(key);
    texts[key] = value;
    return true;
  }
  std::map<std::string, int32_t> ints;
  std::map<std::string, std::string> texts;
  std::vector<std::string> written;
};

REzovazedavEzu& App() {
  return *static_cast<REzovazedavEzu*>(qApp);
}

template <class T>
T* ById(CZaduderivaDlg& dialog, int id) {
  return qobject_cast<T*>(dialog.Control(id));
}

// Runs start-up with store; once the dialog is open, act runs on it (and must end it).
void RunStartUp(SettingsStore& store, std::function<void(CZaduderivaDlg&)> act) {
  App().SetDialogHook([act](CZaduderivaDlg& dialog) {
    dialog.SetMessageHook([](const std::string&, const std::string&, MessageIcon, MessageButtons) {
      return MessageAnswer::Ok;
    });
    QTimer::singleShot(0, &dialog, [&dialog, act] {
      act(dialog);
      if (dialog.isVisible()) dialog.done(QDialog::Rejected);  // never leave the test hanging
    });
  });
  EXPECT_EQ(App().InitInstance(store), 0);
  App().SetDialogHook(nullptr);
}

TEST(StartUp, FirstRunShowsTheDefaultsAndCancelWritesNothing) {
  MemoryStore store;
  std::map<int, QString> texts;
  int port = -2, speed = -2;
  RunStartUp(store, [&](CZaduderivaDlg& dialog) {
    for (int id : {113, 120, 121, 116, 117}) texts[id] = ById<QLineEdit>(dialog, id)->text();
    port = ById<QComboBox>(dialog, 130)->currentIndex();
    speed = ById<QComboBox>(dialog, 131)->currentIndex();
    ById<QLineEdit>(dialog, 117)->setText("edited.cfg");
    QTest::mouseClick(ById<QPushButton>(dialog, 2), Qt::LeftButton);
  });
  EXPECT_EQ(port, 0);
  EXPECT_EQ(speed, 0);
  EXPECT_EQ(texts[113], "111.111.111.111");
  EXPECT_EQ(texts[120], "255.255.255.0");
  EXPECT_EQ(texts[121], "255.255.255.255");
  EXPECT_EQ(texts[116], "111.111.111.111");
  EXPECT_EQ(texts[117], "");
  EXPECT_TRUE(store.written.empty());
}

// Start-up settles where images are looked for: the user's data directory counts too.
TEST(StartUp, TheWindowFindsImagesInTheUsersDataDirectory) {
  const char* old = getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  char pattern[] = "/tmp/vanta-data-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string images = std::string(pattern) + "/Norvane/vantaLink/images";
  QDir().mkpath(QString::fromStdString(images));
  QFile file(QString::fromStdString(images + "/VT7PP4FW.123"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  setenv("XDG_DATA_HOME", pattern, 1);
  MemoryStore store;
  QString newest;
  RunStartUp(store, [&](CZaduderivaDlg& dialog) { newest = ById<QLabel>(dialog, 107)->text(); });
  if (old != nullptr) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
  QDir(QString::fromLatin1(pattern)).removeRecursively();
  EXPECT_EQ(newest, "1.23");
}

TEST(StartUp, OkWritesTheSevenKeysInOrderAsTheControlsHoldThem) {
  MemoryStore store;
  store.ints["ComPort"] = 25;  // no entry: the list shows none and -1 goes back
  store.texts["VantaIP"] = "10.0.0.9";
  RunStartUp(store, [](CZaduderivaDlg& dialog) {
    ById<QComboBox>(dialog, 131)->setCurrentIndex(3);
    ById<QLineEdit>(dialog, 121)->setText("10.0.0.1");
    ById<QLineEdit>(dialog, 117)->setText("/tmp/probe.cfg");
    QTest::mouseClick(ById<QPushButton>(dialog, 1), Qt::LeftButton);
  });
  const std::vector<std::string> order = {"Baudrate", "ComPort", "VantaIP",   "Subnet",
                                          "Gateway",  "HostIP",  "ConfigFile"};
  EXPECT_EQ(store.written, order);
  EXPECT_EQ(store.ints["Baudrate"], 3);
  EXPECT_EQ(store.ints["ComPort"], -1);
  EXPECT_EQ(store.texts["VantaIP"], "10.0.0.9");
  EXPECT_EQ(store.texts["Gateway"], "10.0.0.1");
  EXPECT_EQ(store.texts["ConfigFile"], "/tmp/probe.cfg");
}

TEST(StartUp, InvalidStoredProbeIpOpensButIsNeverWrittenBack) {
  MemoryStore store;
  store.texts["VantaIP"] = "1.2.3";
  bool stayedOpen = false;
  RunStartUp(store, [&](CZaduderivaDlg& dialog) {
    QTest::mouseClick(ById<QPushButton>(dialog, 1), Qt::LeftButton);
    stayedOpen = dialog.isVisible();
    QTest::mouseClick(ById<QPushButton>(dialog, 2), Qt::LeftButton);
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(store.written.empty());
}

// The settings file itself, in a directory of the test's own.
class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vanta-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    const char* old = getenv("XDG_CONFIG_HOME");
    oldHome_ = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    setenv("XDG_CONFIG_HOME", oldHome_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string File() const { return dir_ + "/Norvane/vantaLink.conf"; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static DialogFields Sample() {
    DialogFields f;
    f.speedIndex = 4;
    f.portIndex = 18;
    f.setup.probeIpText = "192.168.1.10";
    f.setup.subnetMaskText = "255.255.255.0";
    f.setup.gatewayText = "192.168.1.1";
    f.setup.configHostText = "255.255.255.255";
    f.setup.configFileText = "/home/jörg/a,b.cfg";
    return f;
  }
  static void ExpectDefaults(const DialogFields& f) {
    EXPECT_EQ(f.speedIndex, 0);
    EXPECT_EQ(f.portIndex, 0);
    EXPECT_EQ(f.setup.probeIpText, "111.111.111.111");
    EXPECT_EQ(f.setup.subnetMaskText, "255.255.255.0");
    EXPECT_EQ(f.setup.gatewayText, "255.255.255.255");
    EXPECT_EQ(f.setup.configHostText, "111.111.111.111");
    EXPECT_EQ(f.setup.configFileText, "");
  }

  std::string dir_;
  std::string oldHome_;
};

TEST_F(SettingsFile, LivesUnderNorvaneInTheUsersConfigDirectory) {
  EXPECT_EQ(SettingsFilePath(), File());
  unsetenv("XDG_CONFIG_HOME");
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  EXPECT_EQ(SettingsFilePath(), home + "/.config/Norvane/vantaLink.conf");
}

TEST_F(SettingsFile, MissingFileGivesTheDefaultsAndSavedValuesComeBack) {
  QtSettingsStore store;
  DialogFields loaded;
  LoadSettings(store, loaded);
  ExpectDefaults(loaded);

  SaveSettings(store, Sample());
  const std::string text = Read(File());
  EXPECT_NE(text.find("[Vanta7%20PPC4xx]"), std::string::npos) << text;
  EXPECT_NE(text.find("Baudrate=4"), std::string::npos) << text;
  EXPECT_NE(text.find("ComPort=18"), std::string::npos) << text;

  QtSettingsStore again;
  DialogFields back;
  LoadSettings(again, back);
  EXPECT_EQ(back.speedIndex, 4);
  EXPECT_EQ(back.portIndex, 18);
  EXPECT_EQ(back.setup.probeIpText, "192.168.1.10");
  EXPECT_EQ(back.setup.configHostText, "255.255.255.255");
  EXPECT_EQ(back.setup.configFileText, "/home/jörg/a,b.cfg");
}

TEST_F(SettingsFile, NumbersThatAreNotNumbersGiveTheDefault) {
  fs::create_directories(dir_ + "/Norvane");
  std::ofstream(File()) << "[Vanta7%20PPC4xx]\nBaudrate=fast\nComPort=99999999999\n"
                        << "VantaIP=10.0.0.1\n";
  QtSettingsStore store;
  DialogFields f;
  LoadSettings(store, f);
  EXPECT_EQ(f.speedIndex, 0);
  EXPECT_EQ(f.portIndex, 0);
  EXPECT_EQ(f.setup.probeIpText, "10.0.0.1");
}

TEST_F(SettingsFile, AByteOrderMarkInFrontIsNoPartOfTheFile) {
  fs::create_directories(dir_ + "/Norvane");
  std::ofstream(File(), std::ios::binary)
      << "\xEF\xBB\xBF[Vanta7%20PPC4xx]\nBaudrate=3\nComPort=4\nVantaIP=10.0.0.1\n";
  QtSettingsStore store;
  DialogFields f;
  LoadSettings(store, f);
  EXPECT_EQ(f.speedIndex, 3);
  EXPECT_EQ(f.portIndex, 4);
  EXPECT_EQ(f.setup.probeIpText, "10.0.0.1");

  SaveSettings(store, Sample());
  EXPECT_FALSE(fs::exists(File() + ".corrupt"));
  QtSettingsStore again;
  DialogFields back;
  LoadSettings(again, back);
  EXPECT_EQ(back.portIndex, 18);
  EXPECT_EQ(back.setup.probeIpText, "192.168.1.10");
}

TEST_F(SettingsFile, CorruptFileGivesTheDefaultsAndIsKeptAsideOnSave) {
  fs::create_directories(dir_ + "/Norvane");
  std::string garbage = "[Vanta7%20PPC4xx]\nVantaIP=10.0.0.1\n[broken\n";
  for (int i = 0; i < 64; ++i) garbage += static_cast<char>((i * 37) & 0xFF);
  std::ofstream(File(), std::ios::binary) << garbage;

  QtSettingsStore store;
  DialogFields f;
  LoadSettings(store, f);
  ExpectDefaults(f);

  SaveSettings(store, Sample());
  EXPECT_EQ(Read(File() + ".corrupt"), garbage);
  QtSettingsStore again;
  DialogFields back;
  LoadSettings(again, back);
  EXPECT_EQ(back.portIndex, 18);
  EXPECT_EQ(back.setup.probeIpText, "192.168.1.10");
}

TEST_F(SettingsFile, UnreadableFileGivesTheDefaultsAndWritesFailQuietly) {
  // A directory where the file should be can be neither read nor replaced, also by root.
  fs::create_directories(File());
  QtSettingsStore store;
  DialogFields f;
  LoadSettings(store, f);
  ExpectDefaults(f);
  EXPECT_FALSE(store.WriteInt(kSettingsSection, "Baudrate", 1));
  SaveSettings(store, Sample());  // every write skipped, nothing stops
  EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(SettingsFile, UnwritableLocationSkipsEveryWrite) {
  // The organisation level is a plain file, so nothing can be created below it.
  std::ofstream(dir_ + "/Norvane") << "not a directory";
  QtSettingsStore store;
  EXPECT_FALSE(store.WriteText(kSettingsSection, "VantaIP", "10.0.0.1"));
  SaveSettings(store, Sample());
  DialogFields f;
  LoadSettings(store, f);
  ExpectDefaults(f);
}

TEST_F(SettingsFile, StartUpWithTheUsersFileSavesAfterOk) {
  App().SetDialogHook([](CZaduderivaDlg& dialog) {
    QTimer::singleShot(0, &dialog, [&dialog] {
      ById<QLineEdit>(dialog, 117)->setText("saved.cfg");
      QTest::mouseClick(ById<QPushButton>(dialog, 1), Qt::LeftButton);
      if (dialog.isVisible()) dialog.done(QDialog::Rejected);
    });
  });
  EXPECT_EQ(App().InitInstance(), 0);
  App().SetDialogHook(nullptr);
  QtSettingsStore store;
  DialogFields f;
  LoadSettings(store, f);
  EXPECT_EQ(f.setup.configFileText, "saved.cfg");
  EXPECT_EQ(f.setup.probeIpText, "111.111.111.111");
}

}  // namespace
}  // namespace vanta
