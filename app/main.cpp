// The tunewell command: reads its arguments and hands over to the front end they ask for.

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/TrayApplication.h"

using namespace tunewell;

namespace {

// With a display and without --tty, playing is the windowed program; started with no files, its
// window waits for a drop. A display that is named but cannot be opened (a server gone, an SSH
// session without its forwarding) leaves the terminal.
bool Windowed(const TCommandLine& line) {
  const bool play = line.Mode == TCommandLine::TMode::Play ||
                    (line.Mode == TCommandLine::TMode::Usage && line.Problem.empty());
  if (!play || line.Tty) return false;
  if (HasDisplay()) return true;
  const std::string named = NamedDisplay();
  if (!named.empty()) {
    std::fprintf(stderr, "tunewell: cannot open display \"%s\"; using the terminal\n",
                 named.c_str());
  }
  return false;
}

int Run(const TCommandLine& line) {
  switch (line.Mode) {
    case TCommandLine::TMode::Help:
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    case TCommandLine::TMode::Version:
      std::printf("tunewell %s\n", TW_VERSION);
      return 0;
    case TCommandLine::TMode::Usage:
      if (!line.Problem.empty()) std::fprintf(stderr, "tunewell: %s\n", line.Problem.c_str());
      std::fputs(UsageText().c_str(), stderr);
      return 2;
    case TCommandLine::TMode::Info:
      return RunInfo(line.Files);
    case TCommandLine::TMode::Wav:
      return RunWav(line.Output, line.Files.front(), line.Device);
    case TCommandLine::TMode::Play:
      return RunTerminal(line.Files, line.Device);
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (Windowed(line)) return RunTrayApplication(argc, argv, line.Files, line.Device);
    return Run(line);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tunewell: %s\n", e.what());
    return 1;
  }
}
