#pragma once
// One Tunewell per display: the first start listens on a local socket, and a later
// `tunewell FILE …` hands its files to it (a file manager's "Open with") instead of playing on
// top. Names travel as the file system's bytes, so a name that is not UTF-8 or holds a line
// break arrives as it left.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace tunewell {

using TFileList = std::vector<std::string>;

// The socket path of this user's Tunewell on this display.
QString InstanceServerName();

// The wire form of a file list, and back; false when the bytes are not (yet) a whole list.
QByteArray EncodeFileList(const TFileList& files);
bool DecodeFileList(const QByteArray& bytes, TFileList& files);

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit TSingleInstance(QString serverName = InstanceServerName(), QObject* parent = nullptr);
  ~TSingleInstance() override;

  // Sends the files to a running instance; true when it took them.
  bool HandOver(const TFileList& files, int timeoutMs = 3000) const;
  // Starts listening; false when another instance listens already. A socket left behind by an
  // instance that died is taken over.
  bool Listen();

  // Files handed over by a later start, in its order; runs on the GUI thread.
  std::function<void(const TFileList& files)> OnFiles;

 private:
  void NewConnection();
  void ReadFrom(QLocalSocket* socket);

  QString serverName_;
  QLocalServer* server_ = nullptr;
};

}  // namespace tunewell
