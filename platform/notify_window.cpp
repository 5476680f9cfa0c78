#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <system_error>
#include <vector>

#include "platform/NotifyWindow.h"

namespace tunewell {

namespace {

// The windows of this thread, in creation order.
thread_local std::vector<TNotifyWindow*> threadWindows;

bool IsLive(TNotifyWindow* window) {
  return std::find(threadWindows.begin(), threadWindows.end(), window) != threadWindows.end();
}

}  // namespace

TNotifyWindow::TNotifyWindow(Handler handler)
    : queue_(MessageQueue::Create()), handler_(std::move(handler)) {
  threadWindows.push_back(this);
}

TNotifyWindow::~TNotifyWindow() {
  std::erase(threadWindows, this);
}

void TNotifyWindow::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
  queue_->Post({message, wParam, lParam});
}

bool TNotifyWindow::PostOnce(uint32_t message) {
  return queue_->PostOnce({message, 0, 0});
}

size_t TNotifyWindow::RemovePending(uint32_t low, uint32_t high) {
  return queue_->RemovePending(low, high);
}

bool TNotifyWindow::IsPending(uint32_t message) {
  return queue_->Contains(message);
}

size_t TNotifyWindow::Pump() {
  size_t handled = 0;
  Message message;
  while (queue_->Peek(message, true)) {
    handler_(message);
    ++handled;
  }
  return handled;
}

size_t ProcessMessages() {
  size_t handled = 0;
  for (;;) {
    size_t pass = 0;
    // A handler may create or destroy windows: work on a copy and skip the dead ones.
    const std::vector<TNotifyWindow*> windows = threadWindows;
    for (TNotifyWindow* window : windows) {
      if (IsLive(window)) pass += window->Pump();
    }
    if (pass == 0) return handled;
    handled += pass;
  }
}

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void WriteSignal(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void WatchSignals(std::initializer_list<int> signals) {
  if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  struct sigaction action = {};
  action.sa_handler = WriteSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signo : signals) sigaction(signo, &action, nullptr);
}

int TMessageLoop::Run() {
  quit_.Reset();
  while (!quit_.IsSignalled()) {
    std::vector<pollfd> set{{quit_.Fd(), POLLIN, 0}};
    if (signalPipe[0] >= 0) set.push_back({signalPipe[0], POLLIN, 0});
    for (TNotifyWindow* window : threadWindows) set.push_back({window->Fd(), POLLIN, 0});
    if (poll(set.data(), set.size(), -1) < 0 && errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    unsigned char signo = 0;
    while (signalPipe[0] >= 0 && read(signalPipe[0], &signo, 1) == 1) {
      if (onSignal_) onSignal_(signo);
    }
    ProcessMessages();
  }
  return code_.load();
}

void TMessageLoop::Quit(int code) {
  code_.store(code);
  quit_.Signal();
}

}  // namespace tunewell
