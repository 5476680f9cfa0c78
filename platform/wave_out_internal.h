#pragma once
// Shared by the wave-out layer's sources only.

#include <memory>
#include <string>

#include "platform/WaveOut.h"

namespace tunewell {

// The test device registered under that name, or null.
std::unique_ptr<PcmSink> CreateTestSink(const std::string& name);

}  // namespace tunewell
