#include <optional>
#include <string_view>

#include "app/CommandLine.h"

namespace tunewell {

namespace {

using TMode = TCommandLine::TMode;

TCommandLine Refuse(std::string problem) {
  TCommandLine refused;
  refused.Problem = std::move(problem);
  return refused;
}

// Which action the options asked for; only one may be named.
struct TActionChoice {
  std::optional<TMode> mode;
  bool conflict = false;

  void Choose(TMode wanted) {
    if (mode && *mode != wanted) conflict = true;
    mode = wanted;
  }
};

// The value of the option `name` at arguments[i], given as "NAME VALUE" (i moves past the
// value) or "NAME=VALUE"; empty when it lacks one, nothing when arguments[i] is another option.
std::optional<std::string> OptionValue(const std::vector<std::string>& arguments, size_t& i,
                                       std::string_view name) {
  const std::string& argument = arguments[i];
  if (argument == name) return i + 1 < arguments.size() ? arguments[++i] : std::string();
  if (argument.size() > name.size() && argument.starts_with(name) && argument[name.size()] == '=') {
    return argument.substr(name.size() + 1);
  }
  return std::nullopt;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine line;
  TActionChoice action;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      line.Files.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      action.Choose(TMode::Help);
    } else if (argument == "--version") {
      action.Choose(TMode::Version);
    } else if (argument == "--tty") {
      line.Tty = true;
    } else if (argument == "--info") {
      action.Choose(TMode::Info);
    } else if (const auto output = OptionValue(arguments, i, "--wav")) {
      action.Choose(TMode::Wav);
      if (output->empty()) return Refuse("--wav needs an output file");
      line.Output = *output;
    } else if (const auto device = OptionValue(arguments, i, "--device")) {
      if (device->empty()) return Refuse("--device needs a device name");
      line.Device = *device;
    } else {
      return Refuse("unknown option " + argument);
    }
  }
  if (action.conflict) return Refuse("--wav, --info, --help and --version exclude each other");

  line.Mode = action.mode.value_or(TMode::Play);
  switch (line.Mode) {
    case TMode::Help:
    case TMode::Version:
      return line;
    case TMode::Wav:
      if (line.Output.empty()) return Refuse("--wav needs an output file");
      if (line.Files.size() != 1) return Refuse("--wav takes exactly one input file");
      return line;
    case TMode::Info:
      if (line.Files.empty()) return Refuse("--info needs at least one file");
      return line;
    case TMode::Play:
    case TMode::Usage:
      if (line.Files.empty()) line.Mode = TMode::Usage;
      return line;
  }
  return line;
}

std::string UsageText() {
  return "usage: tunewell [--tty] [--device NAME] FILE|PLAYLIST ...\n"
         "       tunewell --wav OUT.wav FILE\n"
         "       tunewell --info FILE ...\n"
         "       tunewell --help | --version\n";
}

std::string HelpText() {
  return UsageText() +
         "\n"
         "Plays .mp3 files and .m3u playlists one after another in the terminal.\n"
         "\n"
         "  --tty          play in the terminal even where a display is available\n"
         "  --device NAME  play through this ALSA device instead of \"default\"\n"
         "  --wav OUT.wav  decode FILE into a WAV file instead of playing it\n"
         "  --info         show each file's tags and stream format without playing\n"
         "\n"
         "Keys while playing: space pause/resume, n next song, i invert polarity,\n"
         "t tags of the song, l the queue, q quit.\n";
}

}  // namespace tunewell
