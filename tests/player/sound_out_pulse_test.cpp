// End to end through real sound software: TSoundOut plays two seconds of known PCM through
// ALSA's "default", which scripts/start-services routes to a PulseAudio null sink, and parec
// records the sink's monitor.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "player/MP3Plyr.h"

extern char** environ;

namespace tunewell {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRate = 44100;
constexpr int kFrames = 2 * kRate;
constexpr const char* kSink = "tunewell_null";

std::string Output(const char* command) {
  std::string out;
  if (FILE* pipe = popen(command, "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    if (pclose(pipe) != 0) return {};
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// Noise-like stereo PCM in which no frame is silent, even at half volume (|left| >= 2).
std::vector<int16_t> Reference() {
  std::vector<int16_t> pcm(2 * kFrames);
  uint32_t state = 12345;
  for (int16_t& s : pcm) {
    state = state * 1664525u + 1013904223u;
    int v = static_cast<int>(state >> 16) % 16001 - 8000;
    if (v > -2 && v < 2) v = 5;
    s = static_cast<int16_t>(v);
  }
  return pcm;
}

// What the device does to a sample at volume 50 (32768 of 65535).
int16_t Half(int16_t s) {
  return static_cast<int16_t>(s * 32768 / 0xFFFF);
}

class Recorder {
 public:
  explicit Recorder(const std::string& file) : file_(file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string device = std::string(kSink) + ".monitor";
    const char* argv[] = {"parec",        "--raw",        "--format=s16le",
                          "--rate=44100", "--channels=2", "--latency-msec=20",
                          "-d",           device.c_str(), nullptr};
    ok_ = posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char**>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Recorder() { Stop(); }

  // True once the recording has started to flow.
  bool WaitStarted() {
    const auto deadline = Clock::now() + 5s;
    while (ok_ && Clock::now() < deadline) {
      std::error_code ec;
      if (std::filesystem::file_size(file_, ec) > 4 * kRate / 5) return true;  // 50 ms
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  void Stop() {
    if (!ok_) return;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    ok_ = false;
  }

  std::vector<int16_t> Samples() const {
    std::ifstream in(file_, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }

 private:
  std::string file_;
  pid_t pid_ = 0;
  bool ok_ = false;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

TEST(SoundOutPulse, PlaysPausesAndChangesVolumeThroughTheSoundServer) {
  if (Output("pactl get-default-sink 2>/dev/null") != kSink) {
    GTEST_SKIP() << "no PulseAudio daemon with the null sink " << kSink
                 << " is reachable; scripts/start-services starts one";
  }
  const std::string file =
      (std::filesystem::temp_directory_path() / ("tw-pulse-" + std::to_string(getpid()) + ".raw"))
          .string();
  Recorder recorder(file);
  ASSERT_TRUE(recorder.WaitStarted()) << "parec recorded nothing";

  const std::vector<int16_t> reference = Reference();
  SetWaveMapperDevice("");  // ALSA's default: the sound server
  TSoundOut out;
  out.SetVolume(100);
  out.Open();
  ASSERT_EQ(out.BufferSize(), 88200);
  const auto start = Clock::now();
  ASSERT_EQ(out.Write(reference.data(), 2 * kFrames * 2), 2 * kFrames * 2)
      << "two seconds fill the ring";

  // Follow the returns while pausing at 0.7 s for half a second and halving the volume at 1.75 s.
  std::vector<double> returns;
  double pausedAt = 0, resumedAt = 0, volumeAt = 0;
  int queued = out.QueuedCount();
  while (queued > 0 && Clock::now() - start < 10s) {
    const double t = Seconds(Clock::now() - start);
    if (pausedAt == 0 && t >= 0.7) {
      out.Pause();
      pausedAt = Seconds(Clock::now() - start);
    }
    if (resumedAt == 0 && t >= 1.2) {
      out.Unpause();
      resumedAt = Seconds(Clock::now() - start);
    }
    if (volumeAt == 0 && t >= 1.75) {
      volumeAt = Seconds(Clock::now() - start);
      out.SetVolume(50);
    }
    const int now = out.QueuedCount();
    for (; queued > now; --queued) returns.push_back(t);
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(returns.size(), 4u) << "not every buffer came back";
  out.WaitDone();
  out.Close();
  std::this_thread::sleep_for(300ms);  // the sink's latency, then trailing silence
  recorder.Stop();

  // Pace: half a second per buffer, plus the pause for the buffer that was playing during it.
  const double paused = resumedAt - pausedAt;
  std::printf("returns at %.3f %.3f %.3f %.3f s; paused %.3f..%.3f; volume at %.3f\n", returns[0],
              returns[1], returns[2], returns[3], pausedAt, resumedAt, volumeAt);
  EXPECT_GT(returns[0], 0.45) << "returned before it could have been played";
  EXPECT_LT(returns[0], 0.5 + 0.4);
  EXPECT_NEAR(returns[1] - returns[0], 0.5 + paused, 0.1);
  EXPECT_NEAR(returns[2] - returns[1], 0.5, 0.1);
  EXPECT_NEAR(returns[3] - returns[2], 0.5, 0.1);
  for (double r : returns) {
    EXPECT_FALSE(r > pausedAt + 0.02 && r < resumedAt) << "a buffer came back while paused";
  }

  // The monitor heard every frame once, in order: the reference up to the volume change and
  // exactly the halved reference after it. Silence before, after and during the pause is not
  // part of the stream.
  const std::vector<int16_t> recorded = recorder.Samples();
  std::filesystem::remove(file);
  std::vector<int16_t> heard;
  for (size_t i = 0; i + 1 < recorded.size(); i += 2) {
    if (recorded[i] != 0 || recorded[i + 1] != 0) {
      heard.push_back(recorded[i]);
      heard.push_back(recorded[i + 1]);
    }
  }
  ASSERT_EQ(heard.size(), reference.size()) << "frames lost or added";
  size_t change = 0;
  while (change < heard.size() && heard[change] == reference[change]) ++change;
  change -= change % 2;
  ASSERT_LT(change, heard.size()) << "the volume change was never heard";
  size_t mismatches = 0;
  for (size_t i = change; i < heard.size(); ++i) mismatches += heard[i] != Half(reference[i]);
  EXPECT_EQ(mismatches, 0u) << "samples after the change are not the halved reference";

  // Heard within a tenth of a second: the stream position playing when the volume was set
  // follows from each later return (buffer k ends at (k + 1) / 2 s of the stream). A return
  // noticed late only makes that position look earlier, so the latest estimate is the best.
  double playing = -1;
  for (size_t k = 0; k < returns.size(); ++k) {
    if (returns[k] < volumeAt) continue;
    playing = std::max(playing, 0.5 * static_cast<double>(k + 1) - (returns[k] - volumeAt));
  }
  ASSERT_GE(playing, 0) << "no buffer came back after the volume change";
  const double changedAt = static_cast<double>(change / 2) / kRate;
  std::printf("volume set while %.3f s played; heard from %.3f s: %.0f ms later\n", playing,
              changedAt, (changedAt - playing) * 1000);
  EXPECT_LE(changedAt - playing, 0.1);
  EXPECT_GE(changedAt - playing, -0.03) << "heard before it was set";
}

// The playback component plays a short file through the sound server: its events come in
// order on the message loop, and the sink hears the tone for as long as the file lasts.
TEST(PlayerPulse, PlaysAFileWithItsEventsInOrder) {
  if (Output("pactl get-default-sink 2>/dev/null") != kSink) {
    GTEST_SKIP() << "no PulseAudio daemon with the null sink " << kSink
                 << " is reachable; scripts/start-services starts one";
  }
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("tw-pulse-player-" + std::to_string(getpid()) + ".raw"))
                               .string();
  Recorder recorder(file);
  ASSERT_TRUE(recorder.WaitStarted()) << "parec recorded nothing";

  SetWaveMapperDevice("");
  TMessageLoop loop;
  std::vector<std::string> events;
  int positions = 0;
  TMP3Player player;
  player.OnChangeStatus = [&](TMP3Player& sender) {
    events.push_back(sender.Status() == mpsPlay   ? "play"
                     : sender.Status() == mpsStop ? "stop"
                                                  : "pause");
  };
  player.OnChangePosition = [&](TMP3Player&) { ++positions; };
  player.OnEndPlay = [&](TMP3Player&, TMP3EndPlayReason reason) {
    events.push_back(reason == mepEndOfStream ? "end-of-stream" : "end-other");
    loop.Quit(0);
  };
  player.SetErrorDisplay([&](std::exception_ptr) {
    events.push_back("error");
    loop.Quit(1);
  });
  std::thread guard;
  Event finished;
  guard = std::thread([&] {
    if (finished.Wait(20000) == WAIT_TIMEOUT) loop.Quit(2);
  });
  player.SetFileName(std::string(TW_SOURCE_DIR) + "/tests/player/fixtures/tone.mp3");
  const int code = loop.Run();
  finished.Signal();
  guard.join();
  std::this_thread::sleep_for(300ms);
  recorder.Stop();

  EXPECT_EQ(code, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"play", "stop", "end-of-stream"}));
  EXPECT_GE(positions, 1);
  const std::vector<int16_t> recorded = recorder.Samples();
  std::filesystem::remove(file);
  size_t sounding = 0;
  for (size_t i = 0; i + 1 < recorded.size(); i += 2) sounding += recorded[i] != 0;
  const double seconds = static_cast<double>(sounding) / kRate;
  std::printf("the sink heard %.3f s of the one-second tone\n", seconds);
  EXPECT_NEAR(seconds, 1.0, 0.1);
}

}  // namespace
}  // namespace tunewell
