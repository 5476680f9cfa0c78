// The host side of a StatusNotifierItem notification area, one request per run, for scripts: it
// finds the first item registered with the watcher (tests/app/sni_watcher.cpp) and works it as a
// panel would, through the item's exported menu.
//   sni_host registered        exit 0 when an item is registered
//   sni_host tooltip           the item's tip
//   sni_host menu              the menu as the host would show it, an item per line, sub-menus
//                              indented; [hidden], [checked] and [unchecked] where they apply
//   sni_host click LABEL       chooses the item with that label, as a click in the host's menu
//   sni_host context X Y       asks the item for its context menu, as hosts without menus do

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

struct TItem {
  QString service;
  QString path;
};

struct TMenuNode {
  int id = 0;
  QVariantMap properties;
  std::vector<TMenuNode> children;
};

QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
  call.setArguments(arguments);
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    std::fprintf(stderr, "sni_host: %s: %s\n", qPrintable(method),
                 qPrintable(reply.errorMessage()));
    std::exit(2);
  }
  return reply;
}

QVariant Property(const QString& service, const QString& path, const QString& interface,
                  const QString& name) {
  const QDBusMessage reply = Call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("Get"), {interface, name});
  return reply.arguments().value(0).value<QDBusVariant>().variant();
}

std::optional<TItem> FirstItem() {
  const QStringList items = Property(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                     QStringLiteral("RegisteredStatusNotifierItems"))
                                .toStringList();
  if (items.isEmpty()) return std::nullopt;
  const qsizetype slash = items.first().indexOf(QLatin1Char('/'));
  return TItem{items.first().left(slash), items.first().mid(slash)};
}

TMenuNode ReadNode(const QDBusArgument& argument) {
  TMenuNode node;
  argument.beginStructure();
  argument >> node.id >> node.properties;
  argument.beginArray();
  while (!argument.atEnd()) {
    QDBusVariant child;
    argument >> child;
    node.children.push_back(ReadNode(child.variant().value<QDBusArgument>()));
  }
  argument.endArray();
  argument.endStructure();
  return node;
}

QString MenuPath(const TItem& item) {
  return Property(item.service, item.path, kItemInterface, QStringLiteral("Menu"))
      .value<QDBusObjectPath>()
      .path();
}

// The whole menu, as a host reads it before showing it.
TMenuNode ReadMenu(const TItem& item) {
  const QString menu = MenuPath(item);
  Call(item.service, menu, kMenuInterface, QStringLiteral("AboutToShow"), {0});
  const QDBusMessage layout =
      Call(item.service, menu, kMenuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
  return ReadNode(layout.arguments().value(1).value<QDBusArgument>());
}

void PrintMenu(const TMenuNode& node, int depth) {
  for (const TMenuNode& child : node.children) {
    QString line =
        QString(depth * 2, QLatin1Char(' ')) + child.properties.value("label").toString();
    if (!child.properties.value("visible", true).toBool()) line += QStringLiteral(" [hidden]");
    if (child.properties.value("toggle-type").toString() == QLatin1String("checkmark")) {
      line += child.properties.value("toggle-state").toInt() == 1 ? QStringLiteral(" [checked]")
                                                                  : QStringLiteral(" [unchecked]");
    }
    std::printf("%s\n", line.toUtf8().constData());
    PrintMenu(child, depth + 1);
  }
}

const TMenuNode* FindLabel(const TMenuNode& node, const QString& label) {
  for (const TMenuNode& child : node.children) {
    if (child.properties.value("label").toString() == label) return &child;
    if (const TMenuNode* found = FindLabel(child, label)) return found;
  }
  return nullptr;
}

// The tip is the title of the item's ToolTip (icon name, icon pixmaps, title, text).
QString ToolTipTitle(const TItem& item) {
  const auto tip = Property(item.service, item.path, kItemInterface, QStringLiteral("ToolTip"))
                       .value<QDBusArgument>();
  QString iconName;
  QString title;
  tip.beginStructure();
  tip >> iconName;
  tip.beginArray();
  while (!tip.atEnd()) {
    int width = 0;
    int height = 0;
    QByteArray pixels;
    tip.beginStructure();
    tip >> width >> height >> pixels;
    tip.endStructure();
  }
  tip.endArray();
  tip >> title;
  tip.endStructure();
  return title;
}

int Run(const QStringList& args) {
  const std::optional<TItem> item = FirstItem();
  if (!item) {
    if (args.value(0) != QLatin1String("registered")) std::fprintf(stderr, "sni_host: no item\n");
    return 1;
  }
  const QString request = args.value(0);
  if (request == QLatin1String("registered")) return 0;
  if (request == QLatin1String("tooltip")) {
    std::printf("%s\n", ToolTipTitle(*item).toUtf8().constData());
    return 0;
  }
  if (request == QLatin1String("menu")) {
    PrintMenu(ReadMenu(*item), 0);
    return 0;
  }
  if (request == QLatin1String("click") && args.size() == 2) {
    const TMenuNode menu = ReadMenu(*item);
    const TMenuNode* chosen = FindLabel(menu, args[1]);
    if (chosen == nullptr) {
      std::fprintf(stderr, "sni_host: no item labelled %s\n", qPrintable(args[1]));
      return 1;
    }
    const auto now = static_cast<uint>(QDateTime::currentSecsSinceEpoch());
    Call(item->service, MenuPath(*item), kMenuInterface, QStringLiteral("Event"),
         {chosen->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), now});
    return 0;
  }
  if (request == QLatin1String("context") && args.size() == 3) {
    Call(item->service, item->path, kItemInterface, QStringLiteral("ContextMenu"),
         {args[1].toInt(), args[2].toInt()});
    return 0;
  }
  std::fprintf(stderr, "usage: sni_host registered|tooltip|menu|click LABEL|context X Y\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (!QDBusConnection::sessionBus().isConnected()) {
    std::fprintf(stderr, "sni_host: no session bus\n");
    return 2;
  }
  return Run(QCoreApplication::arguments().mid(1));
}
