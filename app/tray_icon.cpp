#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>

#include <algorithm>
#include <cstring>
#include <utility>

#include "app/ErrorDisplay.h"
#include "app/TrayIcon.h"
#include "info/MP3Info.h"

namespace tunewell {

namespace {

struct TIconEntry {
  uint32_t id;
  TTrayIcon* icon;
};

// Unsorted, in order of creation, so the last entry holds the highest id.
std::vector<TIconEntry>& IconList() {
  static std::vector<TIconEntry> list;
  return list;
}

TTrayIcon* FindIcon(uint32_t id) {
  const auto& list = IconList();
  const auto found =
      std::find_if(list.begin(), list.end(), [id](const TIconEntry& e) { return e.id == id; });
  return found == list.end() ? nullptr : found->icon;
}

// Follows its owner: when the owner goes, so does the window, and the next icon makes a new one.
QPointer<TCallbackWindow>& SharedCallbackWindow() {
  static QPointer<TCallbackWindow> window;
  return window;
}

void PopUp(QWidget* ownerForm, QMenu* menu, QPoint pos) {
  QPointer<QMenu> guard(menu);
  if (ownerForm != nullptr) {
    if (ownerForm->isVisible()) {
      ownerForm->raise();
      ownerForm->activateWindow();
    }
    QCoreApplication::processEvents();
  }
  if (guard) guard->popup(pos);
}

}  // namespace

TCallbackWindow* CallbackWindow() {
  return SharedCallbackWindow();
}

// --- TSingleClick

TSingleClick::TSingleClick(unsigned long milliseconds, QObject* parent)
    : QThread(parent), milliseconds_(milliseconds) {}

void TSingleClick::run() {
  msleep(milliseconds_);
}

// --- TCallbackWindow

TCallbackWindow::TCallbackWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CallbackWindow"));
  hide();
}

TCallbackWindow::~TCallbackWindow() {
  // A click thread still sleeping must end before its object goes.
  for (TSingleClick* thread : findChildren<TSingleClick*>(Qt::FindDirectChildrenOnly)) {
    thread->wait();
  }
}

bool TCallbackWindow::event(QEvent* event) {
  if (event->type() != static_cast<QEvent::Type>(WM_TRAYICON)) return QWidget::event(event);
  const auto& message = static_cast<const TWindowMessage&>(*event);
  try {
    WMTrayIcon(static_cast<uint32_t>(message.WParam), static_cast<uint32_t>(message.LParam));
  } catch (...) {
    ShowCurrentException();
  }
  return true;
}

void TCallbackWindow::WMTrayIcon(uint32_t id, uint32_t mouseMessage) {
  TTrayIcon* icon = FindIcon(id);
  if (icon == nullptr) return;
  CurrentIcon_ = icon;
  if (!icon->Enabled()) return;
  HandleMouseMessage(*icon, mouseMessage);
}

void TCallbackWindow::HandleMouseMessage(TTrayIcon& icon, uint32_t mouseMessage) {
  const QPoint pos = QCursor::pos();
  const auto mouseDown = [&](TMouseButton button, TShiftState shift) {
    if (icon.OnMouseDown) icon.OnMouseDown(&icon, button, shift, pos.x(), pos.y());
  };
  const auto mouseUp = [&](TMouseButton button, TShiftState shift) {
    if (icon.OnMouseUp) icon.OnMouseUp(&icon, button, shift, pos.x(), pos.y());
  };
  switch (mouseMessage) {
    case WM_MOUSEMOVE:
      if (icon.OnMouseMove) icon.OnMouseMove(&icon, ssNone, pos.x(), pos.y());
      break;
    case WM_LBUTTONDOWN:
      if (icon.LBPopupMenu() != nullptr && icon.AutoPopup()) {
        PopUp(icon.OwnerForm(), icon.LBPopupMenu(), pos);
      } else {
        mouseDown(mbLeft, ssLeft);
      }
      break;
    case WM_LBUTTONUP:
      LeftButtonUp(icon, pos);
      break;
    case WM_LBUTTONDBLCLK:
      icon.ClickPending_ = true;
      if (icon.OnDblClick) icon.OnDblClick(&icon);
      break;
    case WM_RBUTTONDOWN:
      if (icon.RBPopupMenu() != nullptr && icon.AutoPopup()) {
        // A host that opens the menu itself has done so already.
        if (!icon.HostOpensMenu()) PopUp(icon.OwnerForm(), icon.RBPopupMenu(), pos);
      } else {
        mouseDown(mbRight, ssRight);
      }
      break;
    case WM_RBUTTONUP:
      mouseUp(mbRight, ssRight);
      break;
    case WM_MBUTTONDOWN:
      mouseDown(mbMiddle, ssMiddle);
      break;
    case WM_MBUTTONUP:
      mouseUp(mbMiddle, ssMiddle);
      break;
    default:  // WM_RBUTTONDBLCLK and anything else
      break;
  }
}

// The first release of a click starts the wait for a second; the release that ends a double
// click only cancels it.
void TCallbackWindow::LeftButtonUp(TTrayIcon& icon, QPoint pos) {
  if (icon.OnMouseUp) {
    icon.OnMouseUp(&icon, mbLeft, ssLeft, pos.x(), pos.y());
  } else if (icon.OnClick) {
    if (!icon.ClickPending_) {
      icon.ClickPending_ = true;
      StartSingleClick();
    } else {
      icon.ClickPending_ = false;
    }
  } else {
    icon.ClickPending_ = false;
  }
}

void TCallbackWindow::StartSingleClick() {
  const auto wait = static_cast<unsigned long>(QApplication::doubleClickInterval() + 50);
  auto* thread = new TSingleClick(wait, this);
  connect(thread, &QThread::finished, this, &TCallbackWindow::SingleClickDone);
  connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

void TCallbackWindow::SingleClickDone() {
  TTrayIcon* icon = CurrentIcon_;
  if (icon == nullptr) return;
  const bool raise = icon->OnClick && icon->ClickPending_;
  icon->ClickPending_ = false;
  try {
    if (raise) icon->OnClick(icon);
  } catch (...) {
    ShowCurrentException();
  }
}

// --- TTrayIcon

TTrayIcon::TTrayIcon(QObject* owner) : QObject(owner) {
  auto& list = IconList();
  if (list.size() >= kMaxTrayIcons) throw ENotifyIconError();
  IconId_ = list.empty() ? 1 : list.back().id + 1;
  auto& window = SharedCallbackWindow();
  if (window.isNull()) window = new TCallbackWindow(qobject_cast<QWidget*>(owner));
  IconData_.uCallbackMessage = WM_TRAYICON;
  IconData_.uID = IconId_;
  list.push_back({IconId_, this});
}

TTrayIcon::~TTrayIcon() {
  if (Registered_) UpdateShellIcon(NIM_DELETE);
  auto& list = IconList();
  std::erase_if(list, [this](const TIconEntry& e) { return e.icon == this; });
}

void TTrayIcon::ReadState() {
  Loading_ = true;
  TipHelp_.clear();
}

void TTrayIcon::Loaded() {
  Loading_ = false;
  UpdateShellIcon(NIM_ADD);
}

void TTrayIcon::SetAnimateRate(int milliseconds) {
  AnimateRate_ = std::max(milliseconds, 100);
}

void TTrayIcon::SetAutoPopup(bool value) {
  AutoPopup_ = value;
  ShareMenu();
}

void TTrayIcon::SetEnabled(bool value) {
  Enabled_ = value;
  if (!value) ClickPending_ = false;
  ShareMenu();
}

void TTrayIcon::SetRBPopupMenu(QMenu* menu) {
  RBPopupMenu_ = menu;
  ShareMenu();
}

void TTrayIcon::SetIcon(const QIcon& icon) {
  Icon_ = icon;
  IconChanged();
}

void TTrayIcon::SetTipHelp(std::string_view value) {
  const std::string display = DisplayText(value);
  const std::string_view tip = CutAtCharBoundary(display, kMaxTipBytes);
  if (tip == TipHelp_) return;
  TipHelp_ = tip;
  IconChanged();
}

void TTrayIcon::SetVisible(bool value) {
  if (value == Visible_) return;
  Visible_ = value && !DisplayIcon().isNull();
  if (Loading_) return;
  if (Visible_) {
    UpdateShellIcon(NIM_ADD);
  } else if (Registered_) {
    UpdateShellIcon(NIM_DELETE);
  }
}

QWidget* TTrayIcon::OwnerForm() const {
  auto* owner = qobject_cast<QWidget*>(parent());
  return owner != nullptr && owner->isWindow() ? owner : nullptr;
}

QIcon TTrayIcon::DisplayIcon() const {
  if (!Icon_.isNull()) return Icon_;
  // windowIcon() falls back to the application's icon by itself; only an icon set on the form
  // counts as the form's.
  QWidget* form = OwnerForm();
  if (form != nullptr && form->testAttribute(Qt::WA_SetWindowIcon)) return form->windowIcon();
  return QApplication::windowIcon();
}

void TTrayIcon::IconChanged() {
  if (Registered_) UpdateShellIcon(NIM_MODIFY);
}

void TTrayIcon::UpdateShellIcon(TNotifyIconMessage action) {
  IconData_.hIcon = DisplayIcon();
  IconData_.szTip.fill('\0');
  std::memcpy(IconData_.szTip.data(), TipHelp_.data(),
              std::min(TipHelp_.size(), IconData_.szTip.size() - 1));
  IconData_.uFlags = NIF_MESSAGE | NIF_ICON | (TipHelp_.empty() ? 0 : NIF_TIP);
  switch (action) {
    case NIM_ADD:
      if (!Visible_) return;
      IconData_.hWnd = CallbackWindow();
      if (!Shell_NotifyIcon(NIM_ADD, IconData_)) throw ENotifyIconError();
      Registered_ = true;
      ShareMenu();
      break;
    case NIM_MODIFY:
      if (!Shell_NotifyIcon(NIM_MODIFY, IconData_)) throw ENotifyIconError();
      break;
    case NIM_DELETE:
      Shell_NotifyIcon(NIM_DELETE, IconData_);
      Registered_ = false;
      HostOpensMenu_ = false;
      break;
  }
}

// A host that opens the menu by itself cannot be told to ignore a click, so a disabled icon or
// one without automatic pop-up takes its menu back.
void TTrayIcon::ShareMenu() {
  if (!Registered_) return;
  QMenu* menu = Enabled_ && AutoPopup_ ? RBPopupMenu_.data() : nullptr;
  HostOpensMenu_ = Shell_ShareIconMenu(IconId_, menu);
}

}  // namespace tunewell
