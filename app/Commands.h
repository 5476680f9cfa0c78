#pragma once
// The command line's three ways to run. Each returns the process's exit status.

#include <exception>
#include <string>
#include <vector>

namespace tunewell {

// Plays the files and playlists in the terminal, with keys where standard input is one.
int RunTerminal(const std::vector<std::string>& arguments, const std::string& device);
// Decodes one file into a WAV file through the sound output's file mode.
int RunWav(const std::string& output, const std::string& input, const std::string& device);
// Prints each file's tags and stream format without playing it.
int RunInfo(const std::vector<std::string>& files);

// An error's text for "tunewell: FILE: message": a file-system error without the file name
// the exception already carries.
std::string ErrorMessage(const std::exception& error);
std::string ErrorMessage(std::exception_ptr error);
void ReportError(const std::string& fileName, const std::string& message);

}  // namespace tunewell
