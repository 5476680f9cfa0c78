// A notification area that speaks StatusNotifierItem, as KDE Plasma, GNOME's AppIndicator
// extension or waybar do: it owns the watcher's name on the session bus, says that a host is
// present, and keeps the items that register. Tests start it on a bus of their own and act as the
// host themselves; it prints "ready" once the name is owned.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

#include <cstdio>

namespace {

class TStatusNotifierWatcher : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
  Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)

 public:
  QStringList RegisteredStatusNotifierItems() const { return items_; }
  bool IsStatusNotifierHostRegistered() const { return true; }
  int ProtocolVersion() const { return 0; }

 public Q_SLOTS:
  // Items name either their service (the object then sits at /StatusNotifierItem) or their path.
  void RegisterStatusNotifierItem(const QString& serviceOrPath) {
    const bool isPath = serviceOrPath.startsWith(QLatin1Char('/'));
    const QString service = isPath ? message().service() : serviceOrPath;
    const QString path = isPath ? serviceOrPath : QStringLiteral("/StatusNotifierItem");
    const QString item = service + path;
    if (!items_.contains(item)) items_.append(item);
    Q_EMIT StatusNotifierItemRegistered(item);
  }
  void RegisterStatusNotifierHost(const QString&) {}

 Q_SIGNALS:
  void StatusNotifierItemRegistered(const QString& item);
  void StatusNotifierItemUnregistered(const QString& item);
  void StatusNotifierHostRegistered();

 private:
  QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  TStatusNotifierWatcher watcher;
  const bool registered =
      bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                             QDBusConnection::ExportAllProperties) &&
      bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
  if (!registered) {
    std::fprintf(stderr, "sni_watcher: cannot own the watcher's name: %s\n",
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return QCoreApplication::exec();
}

#include "sni_watcher.moc"
