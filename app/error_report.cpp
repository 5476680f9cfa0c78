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

std::string ErrorMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ErrorMessage(e);
  } catch (...) {
    return "unknown error";
  }
}

void ReportError(const std::string& fileName, const std::string& message) {
  std::fprintf(stderr, "tunewell: %s: %s\n", fileName.c_str(), message.c_str());
  std::fflush(stderr);
}

}  // namespace tunewell
