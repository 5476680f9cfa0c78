#pragma once
// The desktop's notification area as TTrayIcon sees it: an icon record that is added, modified
// and deleted, and mouse notifications that come back to the record's receiving window as a
// window message. The desktop shell speaks to the notification area through QSystemTrayIcon; tests
// put a shell of their own in its place.

#include <QEvent>
#include <QIcon>
#include <QPointer>

#include <array>
#include <cstdint>

#include "platform/Threads.h"

class QMenu;
class QObject;

namespace tunewell {

enum TNotifyIconMessage { NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2 };

inline constexpr uint32_t NIF_MESSAGE = 1;
inline constexpr uint32_t NIF_ICON = 2;
inline constexpr uint32_t NIF_TIP = 4;

// Mouse messages a notification carries.
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr uint32_t WM_RBUTTONDBLCLK = 0x0206;
inline constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr uint32_t WM_MBUTTONUP = 0x0208;

// The notification record, in the shape of its 88-byte form.
struct TNotifyIconData {
  uint32_t cbSize = 88;
  QPointer<QObject> hWnd;  // receives the callback message
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  QIcon hIcon;
  std::array<char, 64> szTip{};  // UTF-8, zero-terminated
};

// A window message as a Qt event: the event type is the message number (window messages from
// WM_USER on fall inside Qt's user event range).
class TWindowMessage : public QEvent {
 public:
  TWindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam)
      : QEvent(static_cast<QEvent::Type>(msg)), WParam(wParam), LParam(lParam) {}
  uintptr_t WParam;
  intptr_t LParam;
};

class TNotifyShell {
 public:
  virtual ~TNotifyShell() = default;
  // False when the shell refuses the request.
  virtual bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) = 0;
  // Hands an added icon's context menu to a notification area that opens menus itself, where and
  // when it chooses (a StatusNotifierItem host); nullptr takes it back. True when the host now
  // opens the menu, so the icon must not pop it up as well.
  virtual bool ShareIconMenu(uint32_t id, QMenu* menu) = 0;
};

bool Shell_NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data);
bool Shell_ShareIconMenu(uint32_t id, QMenu* menu);

// Puts a shell in place of the desktop's (nullptr puts the desktop's back) and returns the one
// that was in place. The caller keeps ownership.
TNotifyShell* SetNotifyShell(TNotifyShell* shell);

// The shell side of a notification: the record's callback message, with the icon id as first
// and the mouse message as second parameter, sent to the receiving window.
void SendNotifyMessage(const TNotifyIconData& data, uint32_t mouseMessage);
void PostNotifyMessage(const TNotifyIconData& data, uint32_t mouseMessage);

}  // namespace tunewell
