#pragma once
// The application object's default error display: standard error, until a host (the GUI)
// installs its own.

#include <exception>
#include <functional>

namespace tunewell {

void ShowException(const std::exception& e);
// An empty display restores standard error.
void SetExceptionDisplay(std::function<void(const std::exception&)> display);

}  // namespace tunewell
