#pragma once
// The application's default error display: an exception that escapes a handler is shown to the
// user with its text, and the program goes on.

#include <QString>

#include <exception>
#include <functional>

namespace tunewell {

using TErrorDisplay = std::function<void(const QString& text)>;

// Shows the exception's text: what() for a standard exception, a fixed text otherwise.
void ShowException(std::exception_ptr error);

// Inside a catch block: shows the exception being handled.
inline void ShowCurrentException() {
  ShowException(std::current_exception());
}

// Puts a display in place of the message box (an empty one puts the message box back) and returns
// the display that was in place.
TErrorDisplay SetErrorDisplay(TErrorDisplay display);

}  // namespace tunewell
