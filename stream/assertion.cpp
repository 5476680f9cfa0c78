#include "stream/MPAssert.h"

namespace tunewell {

void RaiseAssertion(const char* message, const char* source, unsigned line) {
  throw EAssertionFailed(std::string(message) + " (" + source + ", line " + std::to_string(line) +
                         ")");
}

}  // namespace tunewell
