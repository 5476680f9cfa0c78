#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace tunewell {
namespace {

using TMode = TCommandLine::TMode;

struct TCase {
  std::vector<std::string> arguments;
  TMode mode;
  std::vector<std::string> files;
  std::string output;
  std::string device;
  bool tty;
};

TEST(CommandLine, ModesFilesAndOptions) {
  const std::vector<TCase> cases = {
      {{}, TMode::Usage, {}, "", "", false},
      {{"a.mp3", "b.m3u"}, TMode::Play, {"a.mp3", "b.m3u"}, "", "", false},
      {{"--tty", "a.mp3"}, TMode::Play, {"a.mp3"}, "", "", true},
      {{"--tty"}, TMode::Usage, {}, "", "", true},
      {{"--device", "null", "a.mp3"}, TMode::Play, {"a.mp3"}, "", "null", false},
      {{"a.mp3", "--device=hw:1,0"}, TMode::Play, {"a.mp3"}, "", "hw:1,0", false},
      {{"--wav", "out.wav", "a.mp3"}, TMode::Wav, {"a.mp3"}, "out.wav", "", false},
      {{"a.mp3", "--wav=o.wav"}, TMode::Wav, {"a.mp3"}, "o.wav", "", false},
      {{"--info", "a.mp3", "b.mp3"}, TMode::Info, {"a.mp3", "b.mp3"}, "", "", false},
      {{"--help"}, TMode::Help, {}, "", "", false},
      {{"--version"}, TMode::Version, {}, "", "", false},
      // After "--" even a name that looks like an option is a file; "-" alone is a file.
      {{"--", "--info"}, TMode::Play, {"--info"}, "", "", false},
      {{"-"}, TMode::Play, {"-"}, "", "", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const TCommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.Mode, c.mode);
    EXPECT_EQ(line.Files, c.files);
    EXPECT_EQ(line.Output, c.output);
    EXPECT_EQ(line.Device, c.device);
    EXPECT_EQ(line.Tty, c.tty);
    EXPECT_TRUE(line.Problem.empty()) << line.Problem;
  }
}

TEST(CommandLine, RefusedArgumentsSayWhy) {
  const std::vector<std::vector<std::string>> refused = {
      {"--wav", "out.wav"},
      {"--wav", "out.wav", "a.mp3", "b.mp3"},
      {"--wav"},
      {"--info"},
      {"--device"},
      {"--device=", "a.mp3"},
      {"--bogus", "a.mp3"},
      {"-x"},
      {"--info", "--wav", "o.wav", "a.mp3"},
      {"--help", "--version"},
  };
  for (const auto& arguments : refused) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const TCommandLine line = ParseCommandLine(arguments);
    EXPECT_EQ(line.Mode, TMode::Usage);
    EXPECT_FALSE(line.Problem.empty());
  }
}

TEST(CommandLine, HelpShowsTheUsageAndTheKeys) {
  EXPECT_EQ(HelpText().find(UsageText()), 0u);
  for (const char* key : {"space", "n next", "i invert", "t tags", "l the queue", "q quit"}) {
    EXPECT_NE(HelpText().find(key), std::string::npos) << key;
  }
}

}  // namespace
}  // namespace tunewell
