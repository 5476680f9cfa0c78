#include <cstdio>
#include <system_error>

#include "app/Commands.h"

namespace tunewell {

std::string ErrorMessage(const std::exception& error) {
  if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
    return system->code().message();
  }
  return error.what();
}

void ReportError(const std::string& fileName, const std::string& message) {
  std::fprintf(stderr, "tunewell: %s: %s\n", fileName.c_str(), message.c_str());
  std::fflush(stderr);
}

}  // namespace tunewell
