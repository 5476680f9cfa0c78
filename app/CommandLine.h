#pragma once
// What the tunewell command was asked to do, read from its arguments.

#include <string>
#include <vector>

namespace tunewell {

struct TCommandLine {
  enum class TMode { Play, Wav, Info, Help, Version, Usage };

  TMode Mode = TMode::Usage;
  bool Tty = false;
  // The ALSA device that replaces "default"; empty keeps it.
  std::string Device;
  // --wav's output file.
  std::string Output;
  std::vector<std::string> Files;
  // Why the arguments were refused (mode Usage); empty when there were none.
  std::string Problem;
};

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);
std::string UsageText();
std::string HelpText();

}  // namespace tunewell
