#include "app/TrayApplication.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "app/AppResources.h"
#include "app/ErrorDisplay.h"
#include "app/Main.h"
#include "app/SingleInstance.h"
#include "app/equalizer.h"
#include "platform/Application.h"
#include "platform/WaveOut.h"

namespace tunewell {

namespace {

int signalPair[2] = {-1, -1};

extern "C" void ForwardSignal(int signo) {
  const unsigned char byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] const ssize_t n = write(signalPair[0], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP close the main window from the event loop, which ends the program
// the ordinary way: the player is closed and the icon removed.
class TSignalWatch {
 public:
  TSignalWatch() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPair) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(signalPair[1], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] {
      unsigned char signo = 0;
      while (read(signalPair[1], &signo, 1) == 1) {
      }
      if (MainForm != nullptr) MainForm->close();
    });
    struct sigaction action = {};
    action.sa_handler = ForwardSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &action, nullptr);
  }
  ~TSignalWatch() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &action, nullptr);
    notifier_.reset();
    for (int& fd : signalPair) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }
  TSignalWatch(const TSignalWatch&) = delete;
  TSignalWatch& operator=(const TSignalWatch&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

// Errors the engine reports outside a Qt handler reach the same message box.
void RouteEngineErrors() {
  SetApplicationShowException([](const std::exception& e) {
    ShowException(std::make_exception_ptr(std::runtime_error(e.what())));
  });
}

}  // namespace

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct TXcbDisconnect {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// An X server resets when its last client leaves, and Qt connecting during that reset fails: the
// probe's connection stays open until Qt has its own.
std::unique_ptr<xcb_connection_t, TXcbDisconnect>& ProbeConnection() {
  static std::unique_ptr<xcb_connection_t, TXcbDisconnect> connection;
  return connection;
}

// Authorisation included: what Qt's X11 platform would be told.
bool XServerAccepts() {
  std::unique_ptr<xcb_connection_t, TXcbDisconnect> connection(xcb_connect(nullptr, nullptr));
  if (xcb_connection_has_error(connection.get()) != 0) return false;
  ProbeConnection() = std::move(connection);
  return true;
}

// A relative name lives in the runtime folder.
bool WaylandCompositorAccepts(const std::string& name) {
  const std::string path =
      name.starts_with('/') ? name : Environment("XDG_RUNTIME_DIR") + "/" + name;
  sockaddr_un address = {};
  if (!path.starts_with('/') || path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool accepted =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return accepted;
}

}  // namespace

bool HasDisplay() {
  if (!Environment("DISPLAY").empty() && XServerAccepts()) return true;
  const std::string wayland = Environment("WAYLAND_DISPLAY");
  return !wayland.empty() && WaylandCompositorAccepts(wayland);
}

std::string NamedDisplay() {
  const std::string x = Environment("DISPLAY");
  return x.empty() ? Environment("WAYLAND_DISPLAY") : x;
}

int RunTrayApplication(int& argc, char** argv, const std::vector<std::string>& arguments,
                       const std::string& device) {
  TFileList files;
  for (const std::string& name : arguments) {
    files.push_back(std::filesystem::absolute(name).lexically_normal().string());
  }
  if (!device.empty()) SetWaveMapperDevice(device);
  QApplication app(argc, argv);
  ProbeConnection().reset();
  QApplication::setWindowIcon(ApplicationIcon());
  QApplication::setDesktopFileName(QStringLiteral("tunewell"));
  // Closing the equalizer window or a message box while the main window is hidden is no end.
  QApplication::setQuitOnLastWindowClosed(false);

  TSingleInstance instance;
  if (!instance.Listen()) {
    if (instance.HandOver(files)) return 0;
    // An instance that listens but does not take the files is stuck; play here instead.
  }
  RouteEngineErrors();
  TSignalWatch signalWatch;

  int status = 0;
  {
    auto mainForm = std::make_unique<TMainForm>();
    MainForm = mainForm.get();
    auto equalizerForm = std::make_unique<TEqualizerForm>();
    EqualizerForm = equalizerForm.get();
    QObject::connect(mainForm.get(), &TMainForm::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    instance.OnFiles = [](const TFileList& handed) {
      if (MainForm != nullptr) MainForm->HandOver(handed);
    };
    mainForm->show();
    if (!files.empty()) {
      QTimer::singleShot(0, mainForm.get(), [files] { MainForm->DropFiles(files); });
    }
    status = QApplication::exec();
    // Everything goes after the loop has returned, the player before the windows it reports to.
    instance.OnFiles = nullptr;
    EqualizerForm = nullptr;
    equalizerForm.reset();
    MainForm = nullptr;
    mainForm.reset();
  }
  SetApplicationShowException({});
  return status;
}

}  // namespace tunewell
