#include "tests/app/cli_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tunewell::test {

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

TTempFolder::TTempFolder() {
  std::string pattern = (fs::temp_directory_path() / "tw_cli_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

TRunResult RunTunewell(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment) {
  TTempFolder folder;
  std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY";
  for (const std::string& setting : environment) command += " " + ShellQuote(setting);
  command += " " + ShellQuote(TW_TUNEWELL);
  for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
  command += " </dev/null >" + ShellQuote((folder / "out").string()) + " 2>" +
             ShellQuote((folder / "err").string());
  const int raw = std::system(command.c_str());
  TRunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.out = ReadFile(folder / "out");
  // ALSA's own library complains on its standard error where a machine has no sound card; those
  // lines are not the program's.
  std::istringstream lines(ReadFile(folder / "err"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("ALSA lib ")) result.err += line + "\n";
  }
  return result;
}

std::vector<uint8_t> MakeStream(const fs::path& folder, double seconds,
                                const std::string& lameOptions) {
  if (!HaveTool("sox") || !HaveTool("lame")) return {};
  const fs::path wav = folder / "tone.wav";
  const fs::path mp3 = folder / "tone.mp3";
  const std::string make = "sox -n -r 44100 -c 2 " + ShellQuote(wav.string()) + " synth " +
                           std::to_string(seconds) + " sine 440 sine 660 vol 0.5 && lame --quiet " +
                           lameOptions + " " + ShellQuote(wav.string()) + " " +
                           ShellQuote(mp3.string());
  if (std::system(make.c_str()) != 0) return {};
  const std::string bytes = ReadFile(mp3);
  fs::remove(wav);
  fs::remove(mp3);
  return {bytes.begin(), bytes.end()};
}

}  // namespace tunewell::test
