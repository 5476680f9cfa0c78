// The tunewell command end to end: its arguments, --wav, --info and bad input in the queue.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "decoder/MP3decdr.h"
#include "tests/app/cli_support.h"
#include "tests/info/fixtures.h"

namespace tunewell::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i)
    value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return value;
}

// Every frame of a clean stream decoded in order, as 16-bit PCM bytes.
std::string DecodeStream(const Bytes& stream) {
  DecoderSelectRoutines(0);
  TMPEGHeader first{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  const int32_t length = DecoderFindFirstFrame(stream.data(), static_cast<uint32_t>(stream.size()),
                                               first, bitrate, offset);
  if (length <= 0 || DecoderOpenStream(first, length, 0, 0, 0, 24000) == 0) return {};
  std::string pcm;
  alignas(16) uint8_t frame[8192];
  for (size_t at = offset; at + 4 <= stream.size();) {
    TMPEGHeader h{};
    const int32_t n = DecoderParseHeader(stream.data() + at, 0, h);
    if (n <= 0) break;
    const size_t whole = static_cast<size_t>(n + h.PaddingBit * (h.LayerCode == 3 ? 4 : 1));
    if (at + whole > stream.size()) break;
    const TDecodeResult result =
        DecoderDecodeFrame(stream.data() + at, static_cast<uint32_t>(stream.size() - at), frame);
    pcm.append(reinterpret_cast<const char*>(frame), static_cast<size_t>(result.Written));
    at += whole;
  }
  return pcm;
}

// A WAV file whose sizes agree with its length; its data bytes.
::testing::AssertionResult ValidWav(const std::string& wav, std::string& data) {
  if (wav.size() < 44) return ::testing::AssertionFailure() << "only " << wav.size() << " bytes";
  if (wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 8, "WAVEfmt ") != 0 ||
      wav.compare(36, 4, "data") != 0) {
    return ::testing::AssertionFailure() << "no RIFF/WAVE/fmt/data layout";
  }
  if (Word(wav, 4) != wav.size() - 8 || Word(wav, 40) != wav.size() - 44) {
    return ::testing::AssertionFailure()
           << "sizes " << Word(wav, 4) << "/" << Word(wav, 40) << " for " << wav.size() << " bytes";
  }
  data = wav.substr(44);
  return ::testing::AssertionSuccess();
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_ = MakeStream(folder_.Path(), 1.0);
    if (stream_.empty()) GTEST_SKIP() << "sox and lame are needed to make the test streams";
  }

  std::string Put(const std::string& name, const Bytes& bytes) const {
    WriteFile(folder_ / name, bytes);
    return (folder_ / name).string();
  }

  TTempFolder folder_;
  Bytes stream_;
};

TEST(CliArguments, UsageHelpAndVersion) {
  const TRunResult none = RunTunewell({});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(Contains(none.err, "usage: tunewell")) << none.err;
  EXPECT_TRUE(none.out.empty());

  const TRunResult bad = RunTunewell({"--bogus", "a.mp3"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Contains(bad.err, "tunewell: unknown option --bogus\nusage: tunewell")) << bad.err;

  const TRunResult help = RunTunewell({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "usage: tunewell")) << help.out;

  const TRunResult version = RunTunewell({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tunewell ", 0), 0u) << version.out;
}

TEST_F(CliTest, WavOutputEqualsTheDecodersOwnOutput) {
  const std::string input = Put("in.mp3", stream_);
  const std::string output = (folder_ / "out.wav").string();
  const TRunResult run = RunTunewell({"--wav", output, input});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;

  const std::string wav = ReadFile(output);
  std::string data;
  ASSERT_TRUE(ValidWav(wav, data));
  EXPECT_EQ(Word(wav, 20) & 0xFFFF, 1u);  // PCM
  EXPECT_EQ(Word(wav, 20) >> 16, 2u);     // channels
  EXPECT_EQ(Word(wav, 24), 44100u);       // sample rate
  EXPECT_EQ(Word(wav, 32) >> 16, 16u);    // bits per sample
  const std::string decoded = DecodeStream(stream_);
  ASSERT_FALSE(decoded.empty());
  EXPECT_EQ(data.size(), decoded.size());
  EXPECT_TRUE(data == decoded) << "the WAV data differ from the decoder's output";
}

TEST_F(CliTest, WavRefusesTheInputAPipeAndMissingFiles) {
  const std::string input = Put("in.mp3", stream_);
  const TRunResult same = RunTunewell({"--wav", input, input});
  EXPECT_EQ(same.status, 1);
  EXPECT_TRUE(Contains(same.err, "tunewell: " + input + ": is the input file")) << same.err;
  EXPECT_EQ(ReadFile(input).size(), stream_.size()) << "the input was touched";

  const fs::path link = folder_ / "link.wav";
  fs::create_symlink(input, link);
  EXPECT_EQ(RunTunewell({"--wav", link.string(), input}).status, 1);
  EXPECT_EQ(ReadFile(input).size(), stream_.size());

  const fs::path fifo = folder_ / "pipe.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const TRunResult pipe = RunTunewell({"--wav", fifo.string(), input});
  EXPECT_EQ(pipe.status, 1);
  EXPECT_TRUE(Contains(pipe.err, "tunewell: " + fifo.string() + ": cannot seek")) << pipe.err;

  const std::string missing = (folder_ / "missing.mp3").string();
  const TRunResult gone = RunTunewell({"--wav", (folder_ / "o.wav").string(), missing});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.err, "tunewell: " + missing + ": No such file or directory\n");

  const std::string text = Put("text.mp3", B("no MPEG audio in here\n"));
  const TRunResult unknown = RunTunewell({"--wav", (folder_ / "o.wav").string(), text});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "tunewell: " + text + ": unknown MPEG Audio format.\n");

  // /dev/null can seek: it is how the benchmark runs the whole program.
  EXPECT_EQ(RunTunewell({"--wav", "/dev/null", input}).status, 0);
}

TEST_F(CliTest, WavInterruptedLeavesAValidShorterFile) {
  // Ten minutes: the same second over and over.
  Bytes longStream;
  for (int i = 0; i < 600; ++i) longStream.insert(longStream.end(), stream_.begin(), stream_.end());
  const std::string input = Put("long.mp3", longStream);
  const fs::path output = folder_ / "out.wav";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    execl(TW_TUNEWELL, "tunewell", "--wav", output.c_str(), input.c_str(), nullptr);
    _exit(127);
  }
  // Interrupt once the first half second has been written.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const auto written = [&output] {
    std::error_code error;
    const auto size = fs::file_size(output, error);
    return error ? 0 : size;
  };
  while (written() < 44 + 176400 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(child, SIGINT);
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
  if (WEXITSTATUS(raw) == 0) GTEST_SKIP() << "the decode finished before the signal came";
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  std::string data;
  ASSERT_TRUE(ValidWav(ReadFile(output), data));
  EXPECT_GT(data.size(), 0u);
  EXPECT_LT(data.size(), 600u * 176400u);
  EXPECT_EQ(data.size() % 4, 0u);
}

// The last line of --info: six member names, one per routine slot.
bool IsRoutinesLine(const std::string& text) {
  static const std::string prefix = "routines:";
  if (text.rfind(prefix, 0) != 0 || text.back() != '\n') return false;
  const std::vector<std::string> members = {"portable", "pentium", "pentium-cmov", "3dnow",
                                            "e3dnow"};
  int count = 0;
  size_t at = prefix.size();
  while (at + 1 < text.size()) {
    if (text[at] != ' ') return false;
    const size_t end = text.find_first_of(" \n", at + 1);
    const std::string name = text.substr(at + 1, end - at - 1);
    if (std::find(members.begin(), members.end(), name) == members.end()) return false;
    ++count;
    at = end;
  }
  return count == RoutineSlotCount;
}

TEST_F(CliTest, InfoShowsEachKindOfTag) {
  const Bytes v1 = ID3v1Block("\x96\xe9\x96\xbe\x82\xaf", CommentWithTrack("Comment", 3), 17,
                              "Artist v1", "Album v1", "1999");
  const Bytes v2 = ID3v2Tag(Cat(
      {ID3v2Frame("TIT2", Latin1Body("Title v2")), ID3v2Frame("TPE1", Latin1Body("Artist v2"))}));
  const Bytes info =
      InfoList(Cat({RiffChunk("INAM", B("Riff title\0")), RiffChunk("IART", B("Riff artist"))}));
  const Bytes lyrics = Lyrics3v2(Cat({Lyrics3v2Field("IND", "00"), Lyrics3v2Field("LYR", "la")}));
  // Each file: the stream inside a container or with tags around it. Trailing ID3v1 and Lyrics3
  // tags stay inside the audio range (the decode loop passes over them).
  struct TFile {
    const char* name;
    Bytes bytes;
    size_t audioStart, audioSize;
    std::string title, artist, album, year, comment, genre, tags;
  };
  const Bytes riff =
      RiffFile(Cat({RiffChunk("fmt ", Filled(16, 0)), RiffChunk("data", stream_), info}));
  const size_t n = stream_.size();
  const std::vector<TFile> files = {
      {"plain.mp3", stream_, 0, n, "plain.mp3", "", "", "", "", "", ""},
      {"v1.mp3", Cat({stream_, v1}), 0, n + 128, "夜明け", "Artist v1", "Album v1", "1999",
       "Comment", "Rock", "ID3v1"},
      {"v2.mp3", Cat({v2, stream_}), v2.size(), n, "Title v2", "Artist v2", "", "", "", "",
       "ID3v2"},
      {"riff.mp3", riff, 12 + 24 + 8, n, "Riff title", "Riff artist", "", "", "", "", "RIFF"},
      {"mac.mp3", MacBinaryFile(stream_), 128, n, "mac.mp3", "", "", "", "", "", "MacBinary"},
      {"lyrics.mp3", Cat({stream_, lyrics, v1}), 0, n + lyrics.size() + 128, "夜明け", "Artist v1",
       "Album v1", "1999", "Comment", "Rock", "ID3v1 Lyrics3"},
  };
  for (const TFile& file : files) {
    SCOPED_TRACE(file.name);
    const std::string path = Put(file.name, file.bytes);
    const TRunResult run = RunTunewell({"--info", path});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const auto line = [](const char* key, const std::string& value) {
      return std::string(key) + (value.empty() ? ":\n" : ": " + value + "\n");
    };
    const std::string expected =
        line("file", path) + line("title", file.title) + line("artist", file.artist) +
        line("album", file.album) + line("year", file.year) + line("comment", file.comment) +
        line("genre", file.genre) + "format: MPEG-1 Layer III\nsample_rate: 44100\nchannels: 2\n" +
        "mode: joint stereo\nbitrate: 128\nvbr: none\n" +
        line("audio_start", std::to_string(file.audioStart)) +
        line("audio_size", std::to_string(file.audioSize)) + line("tags", file.tags) + "\n";
    EXPECT_EQ(run.out.substr(0, expected.size()), expected);
    EXPECT_TRUE(IsRoutinesLine(run.out.substr(std::min(expected.size(), run.out.size()))))
        << run.out;
  }
}

TEST_F(CliTest, InfoTakesTheBitRateAfterAVbrHeaderFrame) {
  const Bytes vbr = MakeStream(folder_.Path(), 1.0, "-V 5");
  ASSERT_FALSE(vbr.empty());
  // A VBRI frame: the stream's first frame again, with the header where Xing would be.
  Bytes vbri(stream_.begin(), stream_.begin() + 417);
  std::fill(vbri.begin() + 4, vbri.end(), 0);
  const Bytes fields =
      Cat({B("VBRI"), Bytes{0, 1, 0, 0, 0, 50}, BigEndian(static_cast<int32_t>(stream_.size()))});
  std::copy(fields.begin(), fields.end(), vbri.begin() + 36);
  const struct {
    const char* name;
    Bytes bytes;
    const char* kind;
  } cases[] = {{"xing.mp3", vbr, "Xing"}, {"vbri.mp3", Cat({vbri, stream_}), "VBRI"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TRunResult run = RunTunewell({"--info", Put(c.name, c.bytes)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, std::string("\nvbr: ") + c.kind + "\n")) << run.out;
    // The header frame is not audio: the first audio frame comes after it.
    EXPECT_TRUE(Contains(run.out, "\naudio_start: 417\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, "\nbitrate: 0\n")) << run.out;
  }
}

TEST_F(CliTest, InfoGoesOnAfterAFailingFile) {
  const std::string good = Put("good.mp3", stream_);
  const std::string missing = (folder_ / "missing.mp3").string();
  const TRunResult run = RunTunewell({"--info", missing, good});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tunewell: " + missing + ": No such file or directory\n");
  EXPECT_EQ(run.out.rfind("file: " + good + "\n", 0), 0u) << run.out;
}

TEST_F(CliTest, BadInputIsReportedAndTheQueueGoesOn) {
  const std::string good = Put("good.mp3", stream_);
  const std::string missing = (folder_ / "missing.mp3").string();
  fs::create_directory(folder_ / "folder.mp3");
  const std::string folder = (folder_ / "folder.mp3").string();
  const std::string empty = Put("empty.mp3", {});
  Bytes png = Cat({Bytes{0x89}, B("PNG\r\n\x1a\n"), Filled(2000, 0x00)});
  const std::string picture = Put("picture.mp3", png);
  const std::string cut = Put("cut.mp3", Bytes(stream_.begin(), stream_.begin() + 2000));
  Put("list.m3u", B("missing-in-list.mp3\r\n../nowhere/x.mp3\r\n"));
  const std::string list = (folder_ / "list.m3u").string();
  Bytes binary(4096);
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::string garbage = Put("garbage.m3u", binary);
  const std::string text = Put("notes.txt", B("text"));

  // The null device plays at once: the queue runs through without waiting.
  const TRunResult run = RunTunewell(
      {"--device", "null", missing, folder, empty, picture, cut, list, garbage, text, good});
  EXPECT_EQ(run.status, 1);
  const std::string expected[] = {
      "tunewell: " + missing + ": No such file or directory\n",
      "tunewell: " + folder + ": Is a directory\n",
      "tunewell: " + empty + ": unknown MPEG Audio format.\n",
      "tunewell: " + picture + ": unknown MPEG Audio format.\n",
      "tunewell: " + text + ": skipped",
      "tunewell: " + garbage + ": not a playlist (it holds binary data)\n",
      "tunewell: " + (folder_ / "missing-in-list.mp3").string() + ": No such file or directory\n",
      "tunewell: " + (folder_.Path().parent_path() / "nowhere/x.mp3").string() +
          ": No such file or directory\n",
  };
  for (const std::string& message : expected) {
    EXPECT_TRUE(Contains(run.err, message)) << "missing: " << message << "\nin:\n" << run.err;
  }
  // The cut file plays up to its cut, without a complaint; the good one plays.
  EXPECT_TRUE(Contains(run.out, "cut.mp3 / \n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "good.mp3 / \n")) << run.out;
  EXPECT_FALSE(Contains(run.err, cut)) << run.err;
}

TEST_F(CliTest, AQueueWhoseEveryEntryFailsEndsWithStatusOne) {
  const std::string missing = (folder_ / "missing.mp3").string();
  const TRunResult run = RunTunewell({"--device", "null", missing});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tunewell: " + missing + ": No such file or directory\n");
}

TEST_F(CliTest, ADeviceThatFailsStopsTheQueueWithOneMessage) {
  const std::string a = Put("a.mp3", stream_);
  const std::string b = Put("b.mp3", stream_);
  const TRunResult run = RunTunewell({"--device", "tunewell-no-such-device", a, b});
  EXPECT_EQ(run.status, 1);
  // The device's failure once, against the first song, and what to do about it.
  EXPECT_EQ(run.err.rfind("tunewell: " + a + ": ", 0), 0u) << run.err;
  EXPECT_FALSE(Contains(run.err, b)) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_TRUE(Contains(run.err,
                       "\ntunewell: the sound device could not be opened; name another "
                       "with --device"))
      << run.err;
}

// An X display number nothing serves here.
std::string UnservedDisplay() {
  for (int number = 97; number < 200; ++number) {
    const std::string n = std::to_string(number);
    if (!fs::exists("/tmp/.X11-unix/X" + n) && !fs::exists("/tmp/.X" + n + "-lock")) {
      return ":" + n;
    }
  }
  return {};
}

// A named display that cannot be opened (a server gone, an SSH session without its forwarding)
// is no reason to fail: the songs play in the terminal, after a word about it.
TEST_F(CliTest, AnUnreachableDisplayLeavesTheTerminal) {
  const std::string good = Put("good.mp3", stream_);
  const std::string x = UnservedDisplay();
  ASSERT_FALSE(x.empty());
  const struct {
    std::vector<std::string> environment;
    std::string named;
  } cases[] = {
      {{"DISPLAY=" + x}, x},
      {{"XDG_RUNTIME_DIR=" + folder_.Path().string(), "WAYLAND_DISPLAY=wayland-none"},
       "wayland-none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    const TRunResult run = RunTunewell({"--device", "null", good}, c.environment);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "good.mp3 / \n")) << run.out;
    EXPECT_EQ(run.err, "tunewell: cannot open display \"" + c.named + "\"; using the terminal\n");
  }
}

}  // namespace
}  // namespace tunewell::test
