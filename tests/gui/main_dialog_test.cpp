// The main window on the offscreen platform: the form, keyboard handling, the length limits,
// the About box, and input while a flow runs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/qt_about_dialog.h"
#include "app/qt_main_dialog.h"
#include "dialog/settings.h"
#include "platform/ports.h"
#include "sim/virtual_probe.h"
#include "tests/gui/gui_helpers.h"

namespace vanta {
namespace {

// The form as the dialog template gives it: number, ID, kind, text, x, y, width, height.
struct Expected {
  int number;
  int id;
  const char* kind;
  const char* text;
  int x, y, w, h;
  Qt::Alignment align;
};

constexpr Qt::Alignment L = Qt::AlignLeft, C = Qt::AlignHCenter, R = Qt::AlignRight;

const Expected kForm[] = {
    {1, -1, "group", "Connect Vanta7 Loader", 5, 5, 205, 75, L},
    {2, -1, "group", "Channel", 10, 15, 110, 60, L},
    {3, -1, "label", "SN:", 135, 20, 13, 8, R},
    {4, 118, "label", "", 150, 20, 55, 8, C},  // emptied by the load exchange on opening
    {5, 129, "button", "&Connect", 155, 60, 50, 14, L},
    {6, -1, "group", "Vanta7 Firmware / Logic", 5, 85, 205, 60, L},
    {7, -1, "label", "Current", 65, 95, 35, 8, C},
    {8, -1, "label", "Newest", 110, 95, 35, 8, C},
    {9, -1, "label", "Loader", 10, 110, 45, 8, L},
    {10, 112, "label", "unknown", 65, 110, 35, 8, C},
    {11, -1, "label", "Firmware", 10, 120, 45, 8, L},
    {12, 106, "label", "unknown", 65, 120, 35, 8, C},
    {13, 107, "label", "unknown", 110, 120, 35, 8, C},
    {14, 105, "button", "Current", 155, 94, 50, 14, L},
    {15, -1, "label", "Logic", 10, 130, 45, 8, L},
    {16, 108, "label", "unknown", 65, 130, 35, 8, C},
    {17, 109, "label", "unknown", 110, 130, 35, 8, C},
    {18, 110, "button", "Update", 155, 126, 50, 14, L},
    {19, -1, "group", "Configuration", 5, 150, 205, 130, L},
    {20, -1, "label", "Vanta IP Address", 10, 167, 90, 10, L},
    {21, 113, "edit", "111.111.111.111", 115, 165, 90, 13, L},
    {22, -1, "label", "Subnet Mask", 10, 182, 90, 10, L},
    {23, 120, "edit", "255.255.255.0", 115, 180, 90, 13, L},
    {24, -1, "label", "Default Gateway", 10, 197, 90, 10, L},
    {25, 121, "edit", "255.255.255.255", 115, 195, 90, 13, L},
    {26, -1, "label", "Config - Host IP Address", 10, 212, 90, 10, L},
    {27, 116, "edit", "111.111.111.111", 115, 210, 90, 13, L},
    {28, -1, "label", "Configuration file ", 10, 230, 65, 10, L},
    {29, 117, "edit", "", 10, 240, 195, 13, L},
    {30, 114, "button", "&Transmit", 135, 260, 70, 14, L},
    {31, 1, "button", "Ok", 70, 260, 50, 14, L},
    {32, 2, "button", "Cancel", 10, 260, 50, 14, L},
    {33, 111, "label", "", 5, 285, 205, 8, C},  // the status line, emptied on opening
    {34, -1, "label", "MAC:", 130, 35, 18, 8, R},
    {35, 122, "label", "", 150, 35, 55, 8, C},
    {36, 130, "list", "COM1", 60, 30, 50, 49, L},
    {37, -1, "label", "Port", 20, 32, 30, 8, L},
    {38, 131, "list", "9600", 60, 50, 50, 63, L},
    {39, -1, "label", "Speed", 20, 52, 30, 8, L},
    {40, 115, "button", "Erase", 155, 110, 50, 14, L},
};

// Dialog units to pixels from the font alone, rounded as the system's MulDiv does.
struct Units {
  explicit Units(const QFont& font) {
    const QFontMetrics m(font);
    const int alphabet =
        m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (alphabet + 26) / 52;
    baseY = m.height();
  }
  int X(int u) const { return (u * baseX + 2) / 4; }
  int Y(int u) const { return (u * baseY + 4) / 8; }
  int baseX, baseY;
};

QWidget* ByNumber(QWidget& dialog, int number) {
  for (QWidget* w : dialog.findChildren<QWidget*>()) {
    if (w->property("controlNumber").toInt() == number) return w;
  }
  return nullptr;
}

template <class T>
T* ById(CZaduderivaDlg& dialog, int id) {
  return qobject_cast<T*>(dialog.Control(id));
}

QString KindOf(QWidget* w) {
  if (qobject_cast<QGroupBox*>(w)) return "group";
  if (qobject_cast<QLabel*>(w)) return "label";
  if (qobject_cast<QPushButton*>(w)) return "button";
  if (qobject_cast<QLineEdit*>(w)) return "edit";
  if (qobject_cast<QComboBox*>(w)) return "list";
  return "?";
}

QString TextOf(QWidget* w) {
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
  return {};
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // COM1 stands for a device that does not exist, so a connect fails at once.
    std::string error;
    ASSERT_TRUE(MapPort(1, "/nonexistent/vanta-tty", error)) << error;
    dialog_ = std::make_unique<CZaduderivaDlg>();
    DialogFields& f = dialog_->Fields();
    f.portIndex = 0;
    f.speedIndex = 0;
    f.setup = DefaultSetupTexts();  // as start-up leaves them on a first run
    dialog_->SetMessageHook(
        [this](const std::string& text, const std::string& caption, MessageIcon, MessageButtons) {
          messages_.push_back(text);
          captions_.push_back(caption);
          return MessageAnswer::Ok;
        });
  }
  void TearDown() override {
    dialog_.reset();
    UnmapPort(1);
  }

  void Show() {
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  }

  std::unique_ptr<CZaduderivaDlg> dialog_;
  std::vector<std::string> messages_;
  std::vector<std::string> captions_;
};

TEST_F(MainDialogTest, FormHasEveryControlWithTextIdAndPositionInDialogUnits) {
  Show();
  const Units u(dialog_->font());
  EXPECT_EQ(dialog_->windowTitle(), "Vanta7 Update/Setup");
  EXPECT_EQ(dialog_->size(), QSize(u.X(219), u.Y(301)));
  EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());  // a fixed frame
  EXPECT_FALSE(dialog_->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(dialog_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(dialog_->font().pointSize(), 8);
  EXPECT_FALSE(dialog_->windowIcon().isNull());

  for (const Expected& e : kForm) {
    SCOPED_TRACE(e.number);
    QWidget* w = ByNumber(*dialog_, e.number);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(KindOf(w), e.kind);
    EXPECT_EQ(TextOf(w), e.text);
    EXPECT_EQ(w->property("controlId").toInt(), e.id);
    if (e.id >= 0) {
      EXPECT_EQ(w->objectName(), QString("idc_%1").arg(e.id));
    }
    EXPECT_EQ(w->x(), u.X(e.x));
    EXPECT_EQ(w->y(), u.Y(e.y));
    EXPECT_EQ(w->width(), u.X(e.w));
    if (qobject_cast<QComboBox*>(w)) {
      // The template height is that of the opened list.
      EXPECT_EQ(w->property("droppedHeight").toInt(), u.Y(e.h));
    } else {
      EXPECT_EQ(w->height(), u.Y(e.h));
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, e.align);
    }
  }
  EXPECT_EQ(ById<QLineEdit>(*dialog_, 113)->maxLength(), 15);
  EXPECT_EQ(ById<QLineEdit>(*dialog_, 116)->maxLength(), 15);
  EXPECT_GT(ById<QLineEdit>(*dialog_, 117)->maxLength(), 1000);
  // Ok is the default button whenever no other push button has the focus.
  ById<QLineEdit>(*dialog_, 113)->setFocus();
  EXPECT_TRUE(ById<QPushButton>(*dialog_, 1)->isDefault());
}

TEST_F(MainDialogTest, ListsAreUnsortedFixedAndNameTheirDevices) {
  Show();
  auto* ports = ById<QComboBox>(*dialog_, 130);
  auto* speeds = ById<QComboBox>(*dialog_, 131);
  ASSERT_EQ(ports->count(), 19);
  EXPECT_EQ(ports->itemText(9), "COM10");
  EXPECT_EQ(ports->itemText(18), "COM19");
  EXPECT_FALSE(ports->isEditable());
  EXPECT_EQ(ports->itemData(0, Qt::ToolTipRole).toString(), "/nonexistent/vanta-tty");
  EXPECT_EQ(ports->itemData(4, Qt::ToolTipRole).toString().toStdString(),
            ResolvePortDevice("COM5"));
  const QStringList expected = {"9600", "19200", "38400", "57600", "115200"};
  ASSERT_EQ(speeds->count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(speeds->itemText(i), expected[i]);
  EXPECT_FALSE(speeds->isEditable());
}

// Opened, each list drops below itself as high as its template says, whatever the style's own
// habit; the Port list's 19 entries need a scroll bar, the Speed list's five do not.
TEST_F(MainDialogTest, OpenedListsAreAsHighAsTheTemplateWithAScrollBarWhereNeeded) {
  Show();
  const Units u(dialog_->font());
  const struct {
    int id, height;
    bool scrolls;
  } lists[] = {{130, 49, true}, {131, 63, false}};
  for (const auto& l : lists) {
    SCOPED_TRACE(l.id);
    auto* list = ById<QComboBox>(*dialog_, l.id);
    list->showPopup();
    QWidget* popup = list->view()->window();
    ASSERT_NE(popup, dialog_.get());
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->height(), u.Y(l.height));
    EXPECT_GE(popup->geometry().top(), list->mapToGlobal(QPoint(0, list->height() - 1)).y());
    EXPECT_EQ(list->view()->verticalScrollBar()->isVisible(), l.scrolls);
    list->hidePopup();
  }
}

TEST_F(MainDialogTest, OpeningEnablesOnlyConnectAndFocusesIt) {
  Show();
  EXPECT_TRUE(ById<QPushButton>(*dialog_, 129)->isEnabled());
  for (int id : {105, 110, 114, 115}) EXPECT_FALSE(ById<QPushButton>(*dialog_, id)->isEnabled());
  EXPECT_TRUE(ById<QPushButton>(*dialog_, 1)->isEnabled());
  EXPECT_TRUE(ById<QPushButton>(*dialog_, 2)->isEnabled());
  EXPECT_EQ(dialog_->focusWidget(), dialog_->Control(129));
}

TEST_F(MainDialogTest, TabOrderFollowsTheTable) {
  Show();
  // Push buttons, edit fields and lists in creation order; labels and group boxes never.
  const std::vector<int> expected = {129, 105, 110, 113, 120, 121, 116,
                                     117, 114, 1,   2,   130, 131, 115};
  std::vector<int> order;
  QWidget* w = dialog_->Control(129);
  do {
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w->property("controlId").toInt());
    w = w->nextInFocusChain();
  } while (w != dialog_->Control(129) && order.size() < 40);
  EXPECT_EQ(order, expected);
}

TEST_F(MainDialogTest, EnterInAnEditFieldActivatesOk) {
  Show();
  auto* file = ById<QLineEdit>(*dialog_, 117);
  file->setFocus();
  QTest::keyClicks(file, "probe.cfg");
  QTest::keyClick(file, Qt::Key_Return);
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(dialog_->Fields().setup.configFileText, "probe.cfg");
  EXPECT_EQ(ById<QLabel>(*dialog_, 111)->text(), "Starting firmware please wait....");
}

TEST_F(MainDialogTest, EscapeCancelsWithoutTakingTheEdits) {
  Show();
  auto* ip = ById<QLineEdit>(*dialog_, 113);
  ip->setFocus();
  ip->selectAll();
  QTest::keyClicks(ip, "1.2.3");
  QTest::keyClick(ip, Qt::Key_Escape);
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(dialog_->Fields().setup.probeIpText, "111.111.111.111");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainDialogTest, CloseBoxActsAsCancel) {
  Show();
  EXPECT_TRUE(dialog_->close());
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_EQ(ById<QLabel>(*dialog_, 111)->text(), "Starting firmware please wait....");
}

TEST_F(MainDialogTest, InvalidProbeIpKeepsTheDialogOpenWithTheFileFieldFocused) {
  Show();
  auto* ip = ById<QLineEdit>(*dialog_, 113);
  ip->setText("255.255.255.255");
  ById<QLineEdit>(*dialog_, 117)->setText("x.cfg");
  QTest::mouseClick(ById<QPushButton>(*dialog_, 1), Qt::LeftButton);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(messages_, std::vector<std::string>{"Invalid IP address!"});
  EXPECT_EQ(captions_, std::vector<std::string>{"vantaLink"});
  auto* file = ById<QLineEdit>(*dialog_, 117);
  EXPECT_EQ(dialog_->focusWidget(), file);
  EXPECT_EQ(file->selectedText(), "x.cfg");
}

TEST_F(MainDialogTest, SixteenCharacterStoredValueSurvivesLoadAndIsRefusedOnSave) {
  const std::string stored = "192.168.100.1000";  // 16 characters
  dialog_->Fields().setup.subnetMaskText = stored;
  Show();
  auto* mask = ById<QLineEdit>(*dialog_, 120);
  EXPECT_EQ(mask->text().toStdString(), stored);

  // Typing never makes it longer; once within 15 the limit holds again.
  mask->setFocus();
  mask->end(false);
  QTest::keyClicks(mask, "9");
  EXPECT_EQ(mask->text().size(), 16);
  QTest::keyClick(mask, Qt::Key_Backspace);
  QTest::keyClicks(mask, "7");
  EXPECT_EQ(mask->text(), "192.168.100.100");
  QTest::keyClick(mask, Qt::Key_Backspace);
  QTest::keyClick(mask, Qt::Key_Backspace);
  QTest::keyClicks(mask, "123");
  EXPECT_EQ(mask->text(), "192.168.100.112");

  // A stored value over the limit is refused by the save exchange, with focus on its field.
  dialog_->Fields().setup.subnetMaskText = stored;
  ExchangeData(*dialog_, dialog_->Fields(), Exchange::Load);
  EXPECT_EQ(mask->text().toStdString(), stored);
  QTest::mouseClick(ById<QPushButton>(*dialog_, 1), Qt::LeftButton);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(messages_, std::vector<std::string>{"Please enter no more than 15 characters."});
  EXPECT_EQ(dialog_->focusWidget(), mask);
  EXPECT_EQ(mask->selectedText().toStdString(), stored);
}

TEST_F(MainDialogTest, OutOfRangeStoredIndexShowsNoSelectionAndSavesMinusOne) {
  dialog_->Fields().portIndex = 19;
  dialog_->Fields().speedIndex = -3;
  Show();
  EXPECT_EQ(ById<QComboBox>(*dialog_, 130)->currentIndex(), -1);
  EXPECT_EQ(ById<QComboBox>(*dialog_, 131)->currentIndex(), -1);
  QTest::mouseClick(ById<QPushButton>(*dialog_, 1), Qt::LeftButton);
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
  EXPECT_EQ(dialog_->Fields().portIndex, -1);
  EXPECT_EQ(dialog_->Fields().speedIndex, -1);
}

TEST_F(MainDialogTest, AltCStartsConnect) {
  Show();
  QTest::keyClick(dialog_.get(), Qt::Key_C, Qt::AltModifier);
  // A mnemonic presses its button with a short animation, so the flow starts a moment later.
  EXPECT_TRUE(QTest::qWaitFor([this] { return !messages_.empty(); }, 3000));
  EXPECT_EQ(messages_, std::vector<std::string>{"Cannot connect to Vanta loader!"});
  EXPECT_EQ(ById<QLabel>(*dialog_, 111)->text(), "Connecting to Vanta loader failed!");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainDialogTest, F1AndTheContextMenuShowTheAboutBox) {
  Show();
  QString title, board, version;
  QSize size;
  auto checkAndClose = [&](QWidget* box) {
    title = box->windowTitle();
    size = box->size();
    if (auto* about = qobject_cast<CAboutDlg*>(box)) {
      board = about->BoardLabel()->text();
      version = about->findChild<QLabel*>("about_version")->text();
    }
    QTest::keyClick(box, Qt::Key_Escape);
  };
  test::WhenModal(checkAndClose);
  QTest::keyClick(dialog_.get(), Qt::Key_F1);
  EXPECT_EQ(title, "About vantaLink Setup");
  EXPECT_EQ(board, "PPC4xx");
  EXPECT_EQ(version, "Vanta7 Setup Version 1.02");
  const Units u(dialog_->font());
  EXPECT_EQ(size, QSize(u.X(221), u.Y(48)));

  title.clear();
  board.clear();
  // The context menu's one item, then the box it opens.
  test::WhenModal([&](QWidget* popup) {
    auto* menu = qobject_cast<QMenu*>(popup);
    ASSERT_NE(menu, nullptr);
    QAction* about = nullptr;
    for (QAction* a : menu->actions())
      if (a->text() == "&About vantaLink Setup...") about = a;
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->data().toInt(), kCommandAbout);
    test::WhenModal(checkAndClose, dialog_.get());
    menu->setActiveAction(about);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                          dialog_->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(dialog_.get(), &event);
  EXPECT_EQ(title, "About vantaLink Setup");
  EXPECT_EQ(board, "PPC4xx");
  EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(MainDialogTest, InputIsSwallowedWhileAFlowRunsButItsMessageBoxTakesInput) {
  dialog_->SetMessageHook(nullptr);  // a real box
  Show();
  std::atomic<bool> release{false};
  bool visibleDuring = false, runningDuring = false, waitCursorDuring = false;
  QString statusDuring;
  QTimer::singleShot(50, dialog_.get(), [&] {
    runningDuring = dialog_->FlowRunning();
    statusDuring = ById<QLabel>(*dialog_, 111)->text();
    waitCursorDuring = QApplication::overrideCursor() != nullptr &&
                       QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    QTest::mouseClick(ById<QPushButton>(*dialog_, 2), Qt::LeftButton);    // Cancel
    QTest::mouseClick(ById<QPushButton>(*dialog_, 129), Qt::LeftButton);  // Connect
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    QTest::keyClick(dialog_.get(), Qt::Key_C, Qt::AltModifier);
    QTest::keyClick(dialog_.get(), Qt::Key_F1);
    QTest::keyClicks(ById<QLineEdit>(*dialog_, 117), "typed");
    dialog_->close();
    visibleDuring = dialog_->isVisible();
    release = true;
  });
  bool boxAnswered = false;
  test::WhenModal(
      [&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        if (message == nullptr) return;
        QTest::mouseClick(message->button(QMessageBox::Ok), Qt::LeftButton);
        boxAnswered = true;
      },
      dialog_.get());

  dialog_->RunFlow([&] {
    dialog_->BeginWaitCursor();
    dialog_->SetStatus("Working ...");
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    dialog_->EndWaitCursor();
    dialog_->ShowMessage("Done!", "", MessageIcon::Exclamation, MessageButtons::Ok);
  });

  EXPECT_TRUE(runningDuring);
  EXPECT_EQ(statusDuring, "Working ...");
  EXPECT_TRUE(waitCursorDuring);
  EXPECT_TRUE(visibleDuring);
  EXPECT_TRUE(boxAnswered);
  EXPECT_FALSE(dialog_->FlowRunning());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // Nothing that was swallowed ran afterwards either (a mnemonic would press a moment later).
  bool lateBox = false;
  test::WhenModal(
      [&lateBox](QWidget* box) {
        lateBox = true;
        if (auto* dialog = qobject_cast<QDialog*>(box)) dialog->done(0);
      },
      nullptr, 300);
  QTest::qWait(400);  // past the watch's end, so it cannot take a later test's box
  EXPECT_FALSE(lateBox);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(ById<QLabel>(*dialog_, 111)->text(), "Working ...");
  EXPECT_EQ(ById<QLineEdit>(*dialog_, 117)->text(), "");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The erase question's default is No, so Enter (like Escape) keeps the flash; other Yes/No
// questions keep Yes as their default.
TEST_F(MainDialogTest, TheEraseQuestionAnswersNoToEnterAndEscape) {
  dialog_->SetMessageHook(nullptr);  // a real box
  Show();
  struct Case {
    MessageButtons buttons;
    Qt::Key key;
    MessageAnswer answer;
  };
  const Case cases[] = {{MessageButtons::YesNoDefaultNo, Qt::Key_Return, MessageAnswer::No},
                        {MessageButtons::YesNoDefaultNo, Qt::Key_Escape, MessageAnswer::No},
                        {MessageButtons::YesNo, Qt::Key_Return, MessageAnswer::Yes},
                        {MessageButtons::YesNo, Qt::Key_Escape, MessageAnswer::No}};
  for (const Case& c : cases) {
    QStringList buttons;
    QString defaultText;
    test::WhenModal(
        [&](QWidget* box) {
          auto* message = qobject_cast<QMessageBox*>(box);
          if (message == nullptr) return;
          for (QAbstractButton* b : message->buttons()) buttons << b->text().remove('&');
          if (message->defaultButton() != nullptr) defaultText = message->defaultButton()->text();
          QTest::keyClick(message, c.key);
        },
        dialog_.get());
    EXPECT_EQ(
        dialog_->ShowMessage("Erase Flash and EPLD?", "", MessageIcon::Exclamation, c.buttons),
        c.answer);
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"No", "Yes"}));
    EXPECT_EQ(defaultText.remove('&'),
              c.buttons == MessageButtons::YesNoDefaultNo ? QString("No") : QString("Yes"));
  }
}

TEST_F(MainDialogTest, ConnectToTheVirtualProbeFillsTheLabels) {
  sim::ProbeOptions options;
  options.loaderVersion = 102;
  options.serialNumber = "12345678";
  sim::VirtualProbe probe(options);
  ASSERT_TRUE(probe.Start());
  probe.InstallFirmwareVersion(5);
  std::string error;
  ASSERT_TRUE(MapPort(1, probe.DevicePath(), error)) << error;
  dialog_->Fields().speedIndex = 4;
  Show();
  QTest::mouseClick(ById<QPushButton>(*dialog_, 129), Qt::LeftButton);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(ById<QLabel>(*dialog_, 111)->text(), "Connecting to Vanta Loader passed!");
  EXPECT_EQ(ById<QLabel>(*dialog_, 118)->text(), "12345678");
  EXPECT_EQ(ById<QLabel>(*dialog_, 122)->text(), "0A4F19123456");
  EXPECT_EQ(ById<QLabel>(*dialog_, 112)->text(), "1.02");
  EXPECT_EQ(ById<QLabel>(*dialog_, 106)->text(), "0.05");
  EXPECT_FALSE(ById<QPushButton>(*dialog_, 129)->isEnabled());
  for (int id : {105, 114, 115}) EXPECT_TRUE(ById<QPushButton>(*dialog_, id)->isEnabled());
  // The disabled Connect button's focus went to the window, not into an edit field.
  EXPECT_EQ(QApplication::focusWidget(), dialog_.get());

  QTest::mouseClick(ById<QPushButton>(*dialog_, 2), Qt::LeftButton);
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
  EXPECT_TRUE(probe.InFirmwareMode());
  probe.Stop();
}

}  // namespace
}  // namespace vanta
