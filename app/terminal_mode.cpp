#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <system_error>

#include "app/Terminal.h"

namespace tunewell {

namespace {

// The mode to put back, reachable from exit() and from a fatal signal's handler.
struct TSavedMode {
  termios mode{};
  int fd = -1;
  volatile sig_atomic_t changed = 0;
};
TSavedMode saved;

constexpr std::array<int, 5> fatalSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
std::array<struct sigaction, fatalSignals.size()> previousActions;

void RestoreSaved() {
  if (saved.changed) {
    tcsetattr(saved.fd, TCSANOW, &saved.mode);
    saved.changed = 0;
  }
}

// Puts the mode back and lets whatever handled the signal before (a sanitizer, the default
// action) take it from there.
extern "C" void RestoreOnFatalSignal(int signo) {
  RestoreSaved();
  for (size_t i = 0; i < fatalSignals.size(); ++i) {
    if (fatalSignals[i] == signo) sigaction(signo, &previousActions[i], nullptr);
  }
  raise(signo);
}

void InstallSafetyNets() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(RestoreSaved);
  struct sigaction action = {};
  action.sa_handler = RestoreOnFatalSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < fatalSignals.size(); ++i) {
    sigaction(fatalSignals[i], &action, &previousActions[i]);
  }
}

}  // namespace

bool IsForeground(int fd) {
  if (!isatty(fd)) return false;
  const pid_t group = tcgetpgrp(fd);
  return group >= 0 && group == getpgrp();
}

TTerminalMode::TTerminalMode(int fd) : fd_(fd) {
  if (!isatty(fd_) || tcgetattr(fd_, &saved.mode) != 0) {
    fd_ = -1;
    return;
  }
  saved.fd = fd_;
  InstallSafetyNets();
}

TTerminalMode::~TTerminalMode() {
  Restore();
}

void TTerminalMode::Enter() {
  if (fd_ < 0 || active_ || !IsForeground(fd_)) return;
  termios keys = saved.mode;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  saved.changed = 1;
  if (tcsetattr(fd_, TCSANOW, &keys) == 0) {
    active_ = true;
  } else {
    saved.changed = 0;
  }
}

void TTerminalMode::Restore() {
  if (!active_) return;
  RestoreSaved();
  active_ = false;
}

TKeyReader::TKeyReader(int fd, std::function<void(char)> onKey)
    : fd_(fd), onKey_(std::move(onKey)) {
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (stopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  thread_ = std::thread([this] { Run(); });
}

TKeyReader::~TKeyReader() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(stopFd_, &one, sizeof one);
  thread_.join();
  close(stopFd_);
}

void TKeyReader::Run() {
  // How often a process in the background looks again whether it owns the terminal.
  constexpr int ForegroundCheckMs = 200;
  for (;;) {
    const bool foreground = IsForeground(fd_);
    std::array<pollfd, 2> fds = {{{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}}};
    const nfds_t count = foreground ? 2 : 1;
    if (poll(fds.data(), count, foreground ? -1 : ForegroundCheckMs) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (count < 2 || fds[1].revents == 0) continue;
    if ((fds[1].revents & POLLIN) == 0) return;  // hung up
    // Typed keys belong to whoever owns the terminal now.
    if (!IsForeground(fd_)) continue;
    std::array<char, 64> bytes;
    const ssize_t n = read(fd_, bytes.data(), bytes.size());
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) onKey_(bytes[static_cast<size_t>(i)]);
  }
}

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace tunewell
