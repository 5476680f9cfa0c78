#pragma once
// The windowed program: the main window waits for a drop, the song plays from the notification
// area, and the program ends when the main window closes.

#include <string>
#include <vector>

namespace tunewell {

// Runs the program on the display; `files` (absolute paths, in command-line order) are handled
// as a drop. When Tunewell already runs on this display, hands the files to it and returns.
// Returns the exit status.
int RunTrayApplication(int& argc, char** argv, const std::vector<std::string>& files);

}  // namespace tunewell
