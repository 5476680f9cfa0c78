#pragma once
// The application object's default error display for the engine's worker threads: standard
// error, until a host (the GUI) installs its own. It is called on the failing thread.

#include <exception>
#include <functional>

namespace tunewell {

void ApplicationShowException(const std::exception& e);
// An empty display restores standard error.
void SetApplicationShowException(std::function<void(const std::exception&)> display);

}  // namespace tunewell
