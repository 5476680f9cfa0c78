#pragma once
// TTrayIcon: one icon in the desktop's notification area, with a tip, pop-up menus on button
// press, and the shell's mouse notifications turned into events, a single click told apart from
// a double click. Up to 100 icons per process share one receiving window, TCallbackWindow, and
// one registry of icon ids.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/NotifyShell.h"

namespace tunewell {

class TTrayIcon;

// The callback message of every icon record.
inline constexpr uint32_t WM_TRAYICON = WM_USER + 200;
inline constexpr int kMaxTrayIcons = 100;
inline constexpr std::size_t kMaxTipBytes = 62;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftState : uint8_t { ssNone = 0, ssLeft = 1, ssRight = 2, ssMiddle = 4 };

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent =
    std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;

class ENotifyIconError : public std::runtime_error {
 public:
  ENotifyIconError() : std::runtime_error("タスクトレイにアイコンを登録できません。") {}
};

// Sleeps for the double-click time + 50 ms; its end tells the callback window that a single
// click has stood alone long enough.
class TSingleClick : public QThread {
  Q_OBJECT
 public:
  TSingleClick(unsigned long milliseconds, QObject* parent);

 protected:
  void run() override;

 private:
  unsigned long milliseconds_;
};

// The hidden window that receives every icon's notifications (message WM_TRAYICON, the icon id
// as first and the mouse message as second parameter).
class TCallbackWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TCallbackWindow(QWidget* parent);
  ~TCallbackWindow() override;

  TTrayIcon* CurrentIcon() const { return CurrentIcon_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void WMTrayIcon(uint32_t id, uint32_t mouseMessage);
  void HandleMouseMessage(TTrayIcon& icon, uint32_t mouseMessage);
  void LeftButtonUp(TTrayIcon& icon, QPoint pos);
  void StartSingleClick();
  void SingleClickDone();

  QPointer<TTrayIcon> CurrentIcon_;
};

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  // Raises ENotifyIconError when the process already holds kMaxTrayIcons icons.
  explicit TTrayIcon(QObject* owner);
  ~TTrayIcon() override;
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // Stored settings are applied between ReadState and Loaded; a stored form without a tip
  // gives an empty tip.
  void ReadState();
  void Loaded();

  const std::vector<QIcon>& AnimateIcons() const { return AnimateIcons_; }
  void SetAnimateIcons(std::vector<QIcon> icons) { AnimateIcons_ = std::move(icons); }
  int AnimateRate() const { return AnimateRate_; }
  void SetAnimateRate(int milliseconds);
  bool AutoPopup() const { return AutoPopup_; }
  void SetAutoPopup(bool value);
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool value);
  const QIcon& Icon() const { return Icon_; }
  void SetIcon(const QIcon& icon);
  QMenu* LBPopupMenu() const { return LBPopupMenu_; }
  void SetLBPopupMenu(QMenu* menu) { LBPopupMenu_ = menu; }
  QMenu* RBPopupMenu() const { return RBPopupMenu_; }
  void SetRBPopupMenu(QMenu* menu);
  // UTF-8 text, at most kMaxTipBytes bytes.
  const std::string& TipHelp() const { return TipHelp_; }
  // Takes tag bytes or UTF-8: decoded for display, then cut to kMaxTipBytes bytes at a
  // character boundary.
  void SetTipHelp(std::string_view value);
  bool Visible() const { return Visible_; }
  void SetVisible(bool value);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  // The desktop sends no mouse-move notification, so this fires only for a shell that does.
  TMouseMoveEvent OnMouseMove;

  // The icon shown: Icon, else the owner form's icon, else the application's; null when none.
  QIcon DisplayIcon() const;

  uint32_t IconId() const { return IconId_; }
  bool Registered() const { return Registered_; }
  bool ClickPending() const { return ClickPending_; }
  // The notification area opens the right-button menu itself (a StatusNotifierItem host).
  bool HostOpensMenu() const { return HostOpensMenu_; }
  const TNotifyIconData& IconData() const { return IconData_; }

 private:
  friend class TCallbackWindow;

  void IconChanged();
  void UpdateShellIcon(TNotifyIconMessage action);
  void ShareMenu();
  QWidget* OwnerForm() const;

  uint32_t IconId_ = 0;
  std::vector<QIcon> AnimateIcons_;
  int AnimateRate_ = 500;
  bool AutoPopup_ = true;
  bool Enabled_ = true;
  QIcon Icon_;
  QPointer<QMenu> LBPopupMenu_;
  QPointer<QMenu> RBPopupMenu_;
  std::string TipHelp_ = "TipHelp";
  bool Visible_ = false;
  bool Loading_ = false;
  bool Registered_ = false;
  bool ClickPending_ = false;
  bool HostOpensMenu_ = false;
  TNotifyIconData IconData_;
};

// The shared receiving window; null before the first icon and after its owner has gone.
TCallbackWindow* CallbackWindow();

}  // namespace tunewell
