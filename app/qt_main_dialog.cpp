#include "app/qt_main_dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <thread>

#include "app/qt_about_dialog.h"
#include "link/link_session.h"
#include "platform/ports.h"

namespace vanta {

namespace {

Qt::Alignment ToQt(ControlAlign align) {
  switch (align) {
    case ControlAlign::Centre:
      return Qt::AlignHCenter | Qt::AlignTop;
    case ControlAlign::Right:
      return Qt::AlignRight | Qt::AlignTop;
    case ControlAlign::Left:
      break;
  }
  return Qt::AlignLeft | Qt::AlignTop;
}

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

// A drop-down list of the form: its opened list is as high as the template says, with a
// vertical scroll bar when the entries do not fit. Styles that open the list as a popup over the
// control (Fusion does) show every entry and ignore the height, so the list is asked to drop
// below the control instead.
class FormList : public QComboBox {
 public:
  explicit FormList(QWidget* parent) : QComboBox(parent) {
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  }
  // Height of the opened list in pixels.
  void SetDroppedHeight(int pixels) {
    droppedHeight_ = pixels;
    const int item = std::max(1, view()->sizeHintForRow(0));
    setMaxVisibleItems(std::max(1, pixels / item));
  }
  void showPopup() override {
    QComboBox::showPopup();
    QWidget* popup = view()->window();
    if (popup == this->window() || droppedHeight_ <= 0) return;
    QRect area = popup->geometry();
    // Opened upwards (no room below): keep the bottom edge at the control.
    if (area.top() < mapToGlobal(QPoint(0, 0)).y()) {
      area.setTop(area.bottom() + 1 - droppedHeight_);
    } else {
      area.setHeight(droppedHeight_);
    }
    popup->setGeometry(area);
  }

 private:
  int droppedHeight_ = 0;
};

// The Port list: its entries' tooltips name the device each COM entry stands for now, looked
// up again whenever the list opens (a port link may have been made since).
class PortList : public FormList {
 public:
  using FormList::FormList;
  void RefreshDevices() {
    for (int i = 0; i < count(); ++i)
      setItemData(i, ToQt(ResolvePortDevice(itemText(i).toStdString())), Qt::ToolTipRole);
  }
  void showPopup() override {
    RefreshDevices();
    FormList::showPopup();
  }
};

// While a flow runs, every input event meant for the dialog's window is dropped: clicks, keys,
// shortcuts, the wheel, context menus and close requests. Other windows (the flow's message
// boxes) still take input.
class InputSwallower : public QObject {
 public:
  explicit InputSwallower(QWidget* dialog) : dialog_(dialog) { qApp->installEventFilter(this); }
  ~InputSwallower() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* target, QEvent* event) override {
    if (!IsInput(event->type()) || !BelongsToDialog(target)) return false;
    // A close request is refused by leaving it unaccepted; a shortcut override is accepted so
    // that no shortcut fires on the way to the (swallowed) key press.
    if (event->type() == QEvent::Close)
      event->ignore();
    else
      event->accept();
    return true;
  }

 private:
  static bool IsInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::Close:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::HoverEnter:
      case QEvent::HoverMove:
        return true;
      default:
        return false;
    }
  }

  bool BelongsToDialog(QObject* target) const {
    if (auto* widget = qobject_cast<QWidget*>(target)) return widget->window() == dialog_;
    if (auto* window = qobject_cast<QWindow*>(target)) return window == dialog_->windowHandle();
    for (QObject* o = target; o != nullptr; o = o->parent()) {
      if (o == dialog_) return true;
    }
    return false;
  }

  QWidget* dialog_;
};

}  // namespace

CZaduderivaDlg::CZaduderivaDlg(std::unique_ptr<ProbeLink> link, ImageDirectories imageDirs,
                               QWidget* parent)
    : QDialog(parent),
      controller_(*this, link ? std::move(link) : std::make_unique<ProbeLink>(),
                  std::move(imageDirs)),
      units_(DialogFont()) {
  setFont(DialogFont());
  setWindowTitle(QString::fromLatin1(MainForm().title));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ProgramIcon());
  setFixedSize(units_.Size(MainForm().width, MainForm().height));
  BuildForm();

  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, &CZaduderivaDlg::OnAbout);
}

CZaduderivaDlg::~CZaduderivaDlg() = default;

void CZaduderivaDlg::BuildForm() {
  QWidget* previous = nullptr;
  for (const FormControl& c : MainForm().controls) {
    const QString text = QString::fromLatin1(c.text);
    QWidget* widget = nullptr;
    switch (c.kind) {
      case ControlKind::GroupBox: {
        // The title sits on the frame's top line, half a text line below the box's top.
        auto* group = new QGroupBox(text, this);
        group->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid);"
                                            " border-radius: 2px; margin-top: %1px; }"
                                            " QGroupBox::title { subcontrol-origin: margin;"
                                            " left: %2px; padding: 0px 2px; }")
                                 .arg(units_.BaseY() / 2)
                                 .arg(units_.X(2)));
        widget = group;
        break;
      }
      case ControlKind::Label: {
        auto* label = new QLabel(text, this);
        label->setAlignment(ToQt(c.align));
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
      }
      case ControlKind::Button:
      case ControlKind::DefaultButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(true);
        button->setDefault(c.kind == ControlKind::DefaultButton);
        widget = button;
        break;
      }
      case ControlKind::EditField: {
        auto* edit = new QLineEdit(this);
        const int limit = c.limit;
        if (limit > 0) {
          edit->setMaxLength(limit);
          // A longer text can only come from the settings store: it stays whole, but typing
          // never makes it longer, and once it is within the limit the limit holds again.
          connect(edit, &QLineEdit::textChanged, edit, [edit, limit](const QString& now) {
            edit->setMaxLength(std::max<int>(limit, now.size()));
          });
        }
        widget = edit;
        break;
      }
      case ControlKind::Icon: {
        auto* icon = new QLabel(this);
        icon->setPixmap(ProgramIcon().pixmap(32, 32));
        widget = icon;
        break;
      }
      case ControlKind::DropDownList: {
        auto* list = c.id == kIdPort ? new PortList(this) : new FormList(this);
        list->setEditable(false);
        list->setInsertPolicy(QComboBox::NoInsert);
        widget = list;
        break;
      }
    }
    widget->setObjectName(c.id >= 0 ? QStringLiteral("idc_%1").arg(c.id)
                                    : QStringLiteral("static_%1").arg(c.number));
    widget->setProperty("controlId", c.id);
    widget->setProperty("controlNumber", c.number);
    QRect rect = units_.Rect(c.x, c.y, c.width, c.height);
    if (c.kind == ControlKind::DropDownList) {
      // The template height is that of the opened list; the closed list takes the style's height.
      auto* list = static_cast<QComboBox*>(widget);
      const int closed = list->sizeHint().height();
      list->setProperty("droppedHeight", rect.height());
      rect.setHeight(closed);
    }
    widget->setGeometry(rect);
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previous != nullptr) setTabOrder(previous, widget);
      previous = widget;
    }
    if (c.id >= 0) controls_[c.id] = widget;
  }

  auto button = [this](int id) { return static_cast<QPushButton*>(controls_.at(id)); };
  auto label = [this](int id) { return static_cast<QLabel*>(controls_.at(id)); };
  auto edit = [this](int id) { return static_cast<QLineEdit*>(controls_.at(id)); };
  buttons_ = {{FlowButton::Connect, button(kIdConnect)},
              {FlowButton::Current, button(kIdCurrent)},
              {FlowButton::Update, button(kIdUpdate)},
              {FlowButton::Erase, button(kIdErase)},
              {FlowButton::Transmit, button(kIdTransmit)}};
  versionLabels_ = {{VersionLabel::Loader, label(kIdLoader)},
                    {VersionLabel::Firmware, label(kIdFirmware)},
                    {VersionLabel::Logic, label(kIdLogic)},
                    {VersionLabel::NewestFirmware, label(kIdNewestFirmware)},
                    {VersionLabel::NewestLogic, label(kIdNewestLogic)}};
  edits_ = {{EditField::ProbeIp, edit(kIdProbeIp)},
            {EditField::SubnetMask, edit(kIdSubnet)},
            {EditField::Gateway, edit(kIdGateway)},
            {EditField::ConfigHost, edit(kIdHost)},
            {EditField::ConfigFile, edit(kIdConfigFile)}};
  status_ = label(kIdStatus);
  serialLabel_ = label(kIdSerial);
  macLabel_ = label(kIdMac);
  portList_ = static_cast<QComboBox*>(controls_.at(kIdPort));
  speedList_ = static_cast<QComboBox*>(controls_.at(kIdSpeed));

  for (int n = 1; n <= kPortCount; ++n) portList_->addItem(QStringLiteral("COM%1").arg(n));
  static_cast<PortList*>(portList_)->RefreshDevices();
  for (uint32_t speed : kSpeedTable) speedList_->addItem(QString::number(speed));
  for (QComboBox* list : {portList_, speedList_}) {
    static_cast<FormList*>(list)->SetDroppedHeight(list->property("droppedHeight").toInt());
    list->setCurrentIndex(-1);
  }

  connect(button(kIdConnect), &QPushButton::clicked, this,
          [this] { RunFlow([this] { controller_.OnConnect(); }); });
  connect(button(kIdCurrent), &QPushButton::clicked, this,
          [this] { RunFlow([this] { controller_.OnCurrent(); }); });
  connect(button(kIdUpdate), &QPushButton::clicked, this,
          [this] { RunFlow([this] { controller_.OnUpdate(); }); });
  connect(button(kIdErase), &QPushButton::clicked, this,
          [this] { RunFlow([this] { controller_.OnErase(); }); });
  connect(button(kIdTransmit), &QPushButton::clicked, this,
          [this] { RunFlow([this] { controller_.OnTransmit(); }); });
  connect(button(kIdOk), &QPushButton::clicked, this, &CZaduderivaDlg::OnOkClicked);
  connect(button(kIdCancel), &QPushButton::clicked, this, &CZaduderivaDlg::reject);
}

QWidget* CZaduderivaDlg::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void CZaduderivaDlg::showEvent(QShowEvent* event) {
  if (!opened_) {
    opened_ = true;
    controller_.OnOpen();
    // The first enabled control in tab order takes the focus (Connect, as only it is enabled),
    // rather than the default button that the toolkit would pick.
    for (const FormControl& c : MainForm().controls) {
      QWidget* widget = Control(c.id);
      if (widget != nullptr && widget->focusPolicy() != Qt::NoFocus && widget->isEnabled()) {
        widget->setFocus(Qt::OtherFocusReason);
        break;
      }
    }
  }
  QDialog::showEvent(event);
}

void CZaduderivaDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addSeparator();
  QAction* about = menu.addAction(QString::fromLatin1(kAboutItemText));
  about->setData(kCommandAbout);
  QAction* chosen = menu.exec(event->globalPos());
  // Command codes 16 to 31 all mean About, as the low four bits are the system's own.
  if (chosen != nullptr && (chosen->data().toInt() & ~0xF) == kCommandAbout) OnAbout();
}

void CZaduderivaDlg::OnAbout() {
  if (flowRunning_) return;
  CAboutDlg about(this);
  about.exec();
}

void CZaduderivaDlg::RunFlow(const std::function<void()>& flow) {
  if (flowRunning_) return;
  flowRunning_ = true;
  {
    InputSwallower swallower(this);
    QEventLoop loop;
    // The controller and its link belong to the worker until the flow ends; every view call it
    // makes comes back to this thread, which keeps painting in the loop meanwhile.
    std::thread worker([&flow, &loop] {
      flow();
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
  }
  flowRunning_ = false;
}

void CZaduderivaDlg::OnOkClicked() {
  bool ok = false;
  RunFlow([this, &ok] { ok = controller_.OnOk(); });
  if (ok) QDialog::accept();
}

void CZaduderivaDlg::reject() {
  if (flowRunning_) return;
  RunFlow([this] { controller_.OnCancel(); });
  QDialog::reject();
}

void CZaduderivaDlg::OnGuiThread(const std::function<void()>& work) {
  if (QThread::currentThread() == thread())
    work();
  else
    QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
}

void CZaduderivaDlg::SetStatus(const std::string& text) {
  OnGuiThread([this, &text] {
    status_->setText(ToQt(text));
    // Called on this thread the text would otherwise wait for the next trip through the loop.
    if (!flowRunning_ && status_->isVisible()) status_->repaint();
  });
}

void CZaduderivaDlg::SetVersionLabel(VersionLabel label, const std::string& text) {
  OnGuiThread([this, label, &text] { versionLabels_.at(label)->setText(ToQt(text)); });
}

void CZaduderivaDlg::EnableButton(FlowButton button, bool enabled) {
  OnGuiThread([this, button, enabled] {
    QPushButton* target = buttons_.at(button);
    // The toolkit would hand the focus of a button being disabled to the next control, the
    // probe IP field with its text selected, where the next key press would replace it.
    if (!enabled && target->hasFocus()) setFocus(Qt::OtherFocusReason);
    target->setEnabled(enabled);
  });
}

ControlValues CZaduderivaDlg::ReadControls() {
  ControlValues values;
  OnGuiThread([this, &values] {
    values.portIndex = portList_->currentIndex();
    values.speedIndex = speedList_->currentIndex();
    values.setup.probeIpText = edits_.at(EditField::ProbeIp)->text().toStdString();
    values.setup.subnetMaskText = edits_.at(EditField::SubnetMask)->text().toStdString();
    values.setup.gatewayText = edits_.at(EditField::Gateway)->text().toStdString();
    values.setup.configHostText = edits_.at(EditField::ConfigHost)->text().toStdString();
    values.setup.configFileText = edits_.at(EditField::ConfigFile)->text().toStdString();
    values.serialNumber = serialLabel_->text().toStdString();
    values.macAddressText = macLabel_->text().toStdString();
  });
  return values;
}

void CZaduderivaDlg::SetLimitedText(QLineEdit* edit, int limit, const std::string& text) {
  const QString value = ToQt(text);
  // The limit is widened before the text goes in, or the toolkit would cut a longer stored
  // value that the save exchange must still see whole (and refuse).
  edit->setMaxLength(std::max<int>(limit, value.size()));
  edit->setText(value);
  edit->setMaxLength(std::max<int>(limit, edit->text().size()));
}

void CZaduderivaDlg::WriteControls(const ControlValues& values) {
  OnGuiThread([this, &values] {
    portList_->setCurrentIndex(
        values.portIndex >= 0 && values.portIndex < kPortCount ? values.portIndex : -1);
    speedList_->setCurrentIndex(
        values.speedIndex >= 0 && values.speedIndex < kSpeedCount ? values.speedIndex : -1);
    SetLimitedText(edits_.at(EditField::ProbeIp), kAddressFieldLimit, values.setup.probeIpText);
    serialLabel_->setText(ToQt(values.serialNumber));
    SetLimitedText(edits_.at(EditField::SubnetMask), kAddressFieldLimit,
                   values.setup.subnetMaskText);
    SetLimitedText(edits_.at(EditField::Gateway), kAddressFieldLimit, values.setup.gatewayText);
    macLabel_->setText(ToQt(values.macAddressText));
    SetLimitedText(edits_.at(EditField::ConfigHost), kAddressFieldLimit,
                   values.setup.configHostText);
    edits_.at(EditField::ConfigFile)->setText(ToQt(values.setup.configFileText));
  });
}

void CZaduderivaDlg::FocusField(EditField field) {
  OnGuiThread([this, field] {
    QLineEdit* edit = edits_.at(field);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  });
}

MessageAnswer CZaduderivaDlg::ShowMessage(const std::string& text, const std::string& caption,
                                          MessageIcon icon, MessageButtons buttons) {
  MessageAnswer answer = MessageAnswer::Ok;
  OnGuiThread([&] {
    if (messageHook_) {
      answer = messageHook_(text, caption, icon, buttons);
      return;
    }
    QMessageBox box(this);
    box.setWindowTitle(ToQt(caption.empty() ? std::string(kAppTitle) : caption));
    box.setText(ToQt(text));
    box.setIcon(icon == MessageIcon::Exclamation ? QMessageBox::Warning
                : icon == MessageIcon::Question  ? QMessageBox::Question
                                                 : QMessageBox::NoIcon);
    if (AsksYesNo(buttons)) {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(buttons == MessageButtons::YesNoDefaultNo ? QMessageBox::No
                                                                     : QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);
    } else {
      box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    if (AsksYesNo(buttons))
      answer = result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  });
  return answer;
}

void CZaduderivaDlg::BeginWaitCursor() {
  OnGuiThread([this] {
    ++waitDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  });
}

void CZaduderivaDlg::EndWaitCursor() {
  OnGuiThread([this] {
    if (waitDepth_ == 0) return;  // an end without a begin must not undo someone else's cursor
    --waitDepth_;
    QApplication::restoreOverrideCursor();
  });
}

}  // namespace vanta
