#pragma once
// Running the tunewell command from tests, and the streams they feed it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tunewell::test {

struct TRunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs the built tunewell with these arguments, standard input from /dev/null and no display.
TRunResult RunTunewell(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment = {});

// A shell word that stands for the text as it is.
std::string ShellQuote(const std::string& text);
bool HaveTool(const std::string& name);
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A stream made with sox and lame: `seconds` of two tones, CBR without tags or header frame
// (lame -t); extra lame options are added last. Empty when the tools are missing.
std::vector<uint8_t> MakeStream(const std::filesystem::path& folder, double seconds,
                                const std::string& lameOptions = "-b 128 -t");

// A folder of its own under the temporary folder, removed with the object.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace tunewell::test
