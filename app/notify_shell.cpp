#include "app/NotifyShell.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>

#include <map>

namespace tunewell {

namespace {

QString TipOf(const TNotifyIconData& data) {
  if ((data.uFlags & NIF_TIP) == 0) return {};
  return QString::fromUtf8(data.szTip.data());
}

// A StatusNotifierItem host shows the items' menus itself; Qt then speaks to it instead of an
// XEmbed notification area.
bool StatusNotifierHostPresent() {
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher)) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(
      watcher, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

// One QSystemTrayIcon per added record. The icons are children of the application object, so
// none outlives it. There is no mouse-move notification from the desktop.
class TDesktopNotifyShell final : public TNotifyShell {
 public:
  bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) override {
    switch (message) {
      case NIM_ADD:
        return Add(data);
      case NIM_MODIFY:
        return Modify(data);
      case NIM_DELETE:
        return Delete(data);
    }
    return false;
  }

  // An XEmbed notification area leaves the menu to us: Qt would pop a shared one up on its own.
  bool ShareIconMenu(uint32_t id, QMenu* menu) override {
    QSystemTrayIcon* icon = Find(id);
    if (icon == nullptr || !icons_[id].hostOpensMenus) return false;
    icon->setContextMenu(menu);
    return menu != nullptr;
  }

 private:
  bool Add(const TNotifyIconData& data) {
    if (!QSystemTrayIcon::isSystemTrayAvailable() || Find(data.uID) != nullptr) return false;
    auto* icon = new QSystemTrayIcon(QCoreApplication::instance());
    icon->setIcon(data.hIcon);
    icon->setToolTip(TipOf(data));
    const uint32_t id = data.uID;
    QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                     [this, id](QSystemTrayIcon::ActivationReason reason) { Notify(id, reason); });
    icons_[id] = Entry{icon, data, StatusNotifierHostPresent()};
    icon->show();
    return true;
  }

  bool Modify(const TNotifyIconData& data) {
    QSystemTrayIcon* icon = Find(data.uID);
    if (icon == nullptr) return false;
    icon->setIcon(data.hIcon);
    icon->setToolTip(TipOf(data));
    icons_[data.uID].data = data;
    return true;
  }

  bool Delete(const TNotifyIconData& data) {
    QSystemTrayIcon* icon = Find(data.uID);
    icons_.erase(data.uID);
    if (icon == nullptr) return false;
    icon->hide();
    icon->deleteLater();
    return true;
  }

  QSystemTrayIcon* Find(uint32_t id) {
    const auto found = icons_.find(id);
    if (found == icons_.end()) return nullptr;
    if (found->second.icon.isNull()) {
      icons_.erase(found);
      return nullptr;
    }
    return found->second.icon;
  }

  // Each activation becomes the button messages of the click it stands for. They are posted, so
  // that they are handled from the event loop and not inside the tray icon's own event handling.
  void Notify(uint32_t id, QSystemTrayIcon::ActivationReason reason) {
    const auto found = icons_.find(id);
    if (found == icons_.end()) return;
    const TNotifyIconData& data = found->second.data;
    switch (reason) {
      case QSystemTrayIcon::Context:
        PostNotifyMessage(data, WM_RBUTTONDOWN);
        PostNotifyMessage(data, WM_RBUTTONUP);
        break;
      case QSystemTrayIcon::Trigger:
        PostNotifyMessage(data, WM_LBUTTONDOWN);
        PostNotifyMessage(data, WM_LBUTTONUP);
        break;
      case QSystemTrayIcon::DoubleClick:
        PostNotifyMessage(data, WM_LBUTTONDBLCLK);
        PostNotifyMessage(data, WM_LBUTTONUP);
        break;
      case QSystemTrayIcon::MiddleClick:
        PostNotifyMessage(data, WM_MBUTTONDOWN);
        PostNotifyMessage(data, WM_MBUTTONUP);
        break;
      case QSystemTrayIcon::Unknown:
        break;
    }
  }

  struct Entry {
    QPointer<QSystemTrayIcon> icon;
    TNotifyIconData data;
    bool hostOpensMenus = false;
  };
  std::map<uint32_t, Entry> icons_;
};

TNotifyShell& DesktopShell() {
  static TDesktopNotifyShell shell;
  return shell;
}

TNotifyShell* currentShell = nullptr;

TNotifyShell& CurrentShell() {
  return currentShell != nullptr ? *currentShell : DesktopShell();
}

}  // namespace

bool Shell_NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) {
  return CurrentShell().NotifyIcon(message, data);
}

bool Shell_ShareIconMenu(uint32_t id, QMenu* menu) {
  return CurrentShell().ShareIconMenu(id, menu);
}

TNotifyShell* SetNotifyShell(TNotifyShell* shell) {
  TNotifyShell* previous = &CurrentShell();
  currentShell = shell;
  return previous;
}

void SendNotifyMessage(const TNotifyIconData& data, uint32_t mouseMessage) {
  if (data.hWnd.isNull()) return;
  TWindowMessage message(data.uCallbackMessage, data.uID, mouseMessage);
  QCoreApplication::sendEvent(data.hWnd, &message);
}

void PostNotifyMessage(const TNotifyIconData& data, uint32_t mouseMessage) {
  if (data.hWnd.isNull()) return;
  QCoreApplication::postEvent(data.hWnd,
                              new TWindowMessage(data.uCallbackMessage, data.uID, mouseMessage));
}

}  // namespace tunewell
