#pragma once
// Internal consistency checks. A failed check raises EAssertionFailed whose text names the
// check, the source and the line, e.g. "Assertion failure (mp3plyr, line 120)".

#include <stdexcept>
#include <string>

namespace tunewell {

class EAssertionFailed : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] void RaiseAssertion(const char* message, const char* source, unsigned line);

inline void MPAssert(bool condition, const char* message = "Assertion failure",
                     const char* source = "mp3plyr", unsigned line = __builtin_LINE()) {
  if (!condition) RaiseAssertion(message, source, line);
}

}  // namespace tunewell
