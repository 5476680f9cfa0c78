#include <cstdio>
#include <mutex>

#include "platform/Application.h"

namespace tunewell {

namespace {

std::mutex displayMutex;
std::function<void(const std::exception&)> display;

}  // namespace

void ApplicationShowException(const std::exception& e) {
  std::function<void(const std::exception&)> show;
  {
    std::lock_guard lock(displayMutex);
    show = display;
  }
  if (show) {
    show(e);
  } else {
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void SetApplicationShowException(std::function<void(const std::exception&)> newDisplay) {
  std::lock_guard lock(displayMutex);
  display = std::move(newDisplay);
}

}  // namespace tunewell
