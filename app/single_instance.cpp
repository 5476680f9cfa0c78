#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <cstdint>
#include <memory>
#include <utility>

#include "app/ErrorDisplay.h"

namespace tunewell {

namespace {

constexpr char kMagic[4] = {'T', 'W', 'F', '1'};
// A hand-over is a list of names; anything larger is not one and is dropped.
constexpr qsizetype kMaxMessageBytes = 64 << 20;
constexpr char kTaken = '1';

void PutU32(QByteArray& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.append(static_cast<char>((value >> shift) & 0xFF));
}

bool GetU32(const QByteArray& in, qsizetype& at, uint32_t& value) {
  if (in.size() - at < 4) return false;
  value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t{static_cast<uint8_t>(in[at + i])} << (8 * i);
  at += 4;
  return true;
}

QString DisplayKey() {
  QByteArray display = qgetenv("WAYLAND_DISPLAY");
  if (display.isEmpty()) display = qgetenv("DISPLAY");
  QString key = QString::fromLocal8Bit(display);
  for (QChar& c : key) {
    if (!c.isLetterOrNumber()) c = QLatin1Char('_');
  }
  return key;
}

}  // namespace

QString InstanceServerName() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + QStringLiteral("/tunewell-") + DisplayKey() + QStringLiteral(".socket");
}

QByteArray EncodeFileList(const TFileList& files) {
  QByteArray out(kMagic, sizeof kMagic);
  PutU32(out, static_cast<uint32_t>(files.size()));
  for (const std::string& name : files) {
    PutU32(out, static_cast<uint32_t>(name.size()));
    out.append(name.data(), static_cast<qsizetype>(name.size()));
  }
  return out;
}

bool DecodeFileList(const QByteArray& bytes, TFileList& files) {
  if (bytes.size() < static_cast<qsizetype>(sizeof kMagic) ||
      !bytes.startsWith(QByteArray(kMagic, sizeof kMagic))) {
    return false;
  }
  qsizetype at = sizeof kMagic;
  uint32_t count = 0;
  if (!GetU32(bytes, at, count)) return false;
  TFileList result;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = 0;
    if (!GetU32(bytes, at, length) || bytes.size() - at < static_cast<qsizetype>(length)) {
      return false;
    }
    result.emplace_back(bytes.constData() + at, length);
    at += length;
  }
  files = std::move(result);
  return true;
}

TSingleInstance::TSingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::HandOver(const TFileList& files, int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(EncodeFileList(files));
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  }
  return socket.read(1) == QByteArray(1, kTaken);
}

bool TSingleInstance::Listen() {
  if (server_ != nullptr) return true;
  // Two starts at the same moment take turns: each asks whether someone answers, and only then
  // listens. A socket nobody answers on was left by an instance that died, and is replaced.
  QLockFile lock(serverName_ + QStringLiteral(".lock"));
  lock.tryLock(5000);
  QLocalSocket probe;
  probe.connectToServer(serverName_);
  if (probe.waitForConnected(1000)) return false;
  QLocalServer::removeServer(serverName_);
  auto server = std::make_unique<QLocalServer>(this);
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(serverName_)) return false;
  server_ = server.release();
  connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::NewConnection);
  return true;
}

void TSingleInstance::NewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    if (socket->bytesAvailable() > 0) ReadFrom(socket);
  }
}

// The bytes gather in the socket until the whole list is there.
void TSingleInstance::ReadFrom(QLocalSocket* socket) {
  const QByteArray bytes = socket->peek(socket->bytesAvailable());
  const bool foreign = bytes.size() >= static_cast<qsizetype>(sizeof kMagic) &&
                       !bytes.startsWith(QByteArray(kMagic, sizeof kMagic));
  if (foreign || bytes.size() > kMaxMessageBytes) {
    socket->abort();
    return;
  }
  TFileList files;
  if (!DecodeFileList(bytes, files)) return;
  socket->readAll();
  socket->write(QByteArray(1, kTaken));
  socket->flush();
  socket->disconnectFromServer();
  if (!OnFiles) return;
  try {
    OnFiles(files);
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace tunewell
