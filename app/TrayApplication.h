#pragma once
// The windowed program: the main window waits for a drop, the song plays from the notification
// area, and the program ends when the main window closes.

#include <string>
#include <vector>

namespace tunewell {

// An X11 or Wayland display to show windows on, that accepts a connection.
bool HasDisplay();
// The display the environment names, reachable or not; empty when it names none.
std::string NamedDisplay();

// Runs the program on the display; `files` (in command-line order, made absolute here) are
// handled as a drop. When Tunewell already runs on this display, hands the files to it and
// returns. A device name replaces ALSA's "default". Returns the exit status.
int RunTrayApplication(int& argc, char** argv, const std::vector<std::string>& files,
                       const std::string& device = {});

}  // namespace tunewell
