// The playback component on the test wave device: its status machine and event order, the
// end-of-stream drain, worker errors, destruction at awkward moments, and resynchronisation.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "player_test_support.h"

namespace tunewell::test {
namespace {

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

class PlayerTest : public PlayerHarness {};

constexpr size_t kMp2Pcm = size_t{kMp2Frames} * kMp2PcmPerFrame;

TEST_F(PlayerTest, PlaysAFileToItsEndWithStatusThenEndOfStream) {
  player_->SetFileName(FixturePath("tone.mp2"));
  EXPECT_EQ(player_->Status(), mpsPlay);
  EXPECT_TRUE(Events().empty()) << "events arrive only after the operation has returned";
  ASSERT_TRUE(PlayToEnd());
  EXPECT_EQ(Events(), (Log{"status:play", "status:stop", "end:end-of-stream"}));
  EXPECT_EQ(device_.Played().size(), kMp2Pcm);
  EXPECT_GE(positions_, 1);
  EXPECT_TRUE(errors_.empty());
  // A seekable file stays open, stopped at its first frame.
  EXPECT_TRUE(player_->IsOpen());
  EXPECT_EQ(player_->Status(), mpsStop);
  EXPECT_EQ(player_->FileName(), FixturePath("tone.mp2"));
}

TEST_F(PlayerTest, PlayAfterTheEndReplaysFromTheFirstFrame) {
  player_->SetFileName(FixturePath("tone.mp2"));
  ASSERT_TRUE(PlayToEnd());
  const std::vector<uint8_t> first = device_.Played();
  events_.clear();
  player_->Play();
  ASSERT_TRUE(PlayToEnd());
  EXPECT_EQ(Events(), (Log{"status:play", "status:stop", "end:end-of-stream"}));
  const std::vector<uint8_t> both = device_.Played();
  ASSERT_EQ(both.size(), 2 * first.size());
  // The decoder was reopened: the second playback starts from fresh state and matches.
  EXPECT_TRUE(
      std::equal(first.begin(), first.end(), both.begin() + static_cast<long>(first.size())));
}

TEST_F(PlayerTest, NewFileWhilePlayingMergesTheStatusAndEndsTheOldWithStop) {
  player_->SetFileName(FixturePath("tone.mp2"));
  Pump();
  events_.clear();
  player_->SetFileName(FixturePath("tone.mp3"));
  Pump();
  EXPECT_EQ(Events(), (Log{"status:play", "end:stop"}));
  EXPECT_EQ(player_->Status(), mpsPlay);
}

TEST_F(PlayerTest, PauseDuringTheDrainHoldsTheEndUntilResume) {
  player_->SetFileName(FixturePath("tone.mp2"));
  ASSERT_TRUE(PlayIntoDrain(kMp2Pcm, 2400));
  player_->Pause();
  Pump();
  device_.Advance(4800);
  for (int i = 0; i < 50; ++i) {
    Pump();
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Events(), (Log{"status:play", "status:pause"}));
  EXPECT_EQ(player_->Status(), mpsPause);
  player_->Resume();
  ASSERT_TRUE(PlayToEnd());
  EXPECT_EQ(Events(), (Log{"status:play", "status:pause", "status:play", "status:stop",
                           "end:end-of-stream"}));
  EXPECT_EQ(device_.Played().size(), kMp2Pcm);
}

// Stop and Close end the playback during the drain, also while the device is paused.
TEST_F(PlayerTest, StopAndCloseEndTheDrainPromptly) {
  for (bool close : {false, true}) {
    for (bool paused : {false, true}) {
      SCOPED_TRACE(std::string(close ? "Close" : "Stop") + (paused ? ", paused" : ""));
      events_.clear();
      player_->SetFileName(FixturePath("tone.mp2"));
      const size_t before = device_.Played().size();
      ASSERT_TRUE(PlayIntoDrain(before + kMp2Pcm, 2400));
      if (paused) player_->Pause();
      if (close) {
        player_->Close();
      } else {
        player_->Stop();
      }
      EXPECT_EQ(player_->Status(), mpsStop);
      Pump();
      ASSERT_FALSE(Events().empty());
      EXPECT_EQ(Events().back(), "end:stop");
      EXPECT_EQ(player_->IsOpen(), !close);
      // Nothing of the old playback comes late.
      device_.Advance(4800);
      for (int i = 0; i < 20; ++i) {
        Pump();
        std::this_thread::sleep_for(1ms);
      }
      EXPECT_EQ(Events().back(), "end:stop");
      EXPECT_EQ(player_->Status(), mpsStop);
    }
  }
}

// Five seconds of tone: more than the four device buffers hold.
std::vector<uint8_t> LongTone() {
  const std::vector<uint8_t> tone = ReadFixture("tone.mp2");
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 5; ++i) bytes.insert(bytes.end(), tone.begin(), tone.end());
  return bytes;
}

TEST_F(PlayerTest, ALostDeviceEndsWithErrorShownOnce) {
  OpenMemory(LongTone());
  ASSERT_TRUE(PumpUntil([this] { return device_.Pending() > 0; }));
  device_.Lose();
  ASSERT_TRUE(PumpUntil([this] { return Ended(); }, 4800));
  EXPECT_EQ(Events(), (Log{"status:play", "status:stop", "end:error"}));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_THROW(std::rethrow_exception(errors_[0]), ESoundOutError);
  EXPECT_EQ(player_->Status(), mpsStop);
}

// The user skips while the end of the song is already on its way: the next song plays on.
TEST_F(PlayerTest, AStopAtTheNaturalEndThenANewFileKeepsPlaying) {
  player_->SetFileName(FixturePath("tone.mp2"));
  ASSERT_TRUE(PlayIntoDrain(kMp2Pcm, 0));
  device_.Advance(device_.Pending());
  ASSERT_EQ(device_.Played().size(), kMp2Pcm);
  // Everything has been played: the decode thread posts its end of stream, unhandled yet.
  std::this_thread::sleep_for(100ms);
  player_->Stop();
  player_->SetFileName(FixturePath("tone.mp3"));
  for (int i = 0; i < 20; ++i) {
    Pump();
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(player_->Status(), mpsPlay);
  EXPECT_EQ(Events(), (Log{"status:play", "status:play", "end:stop"}));
}

TEST_F(PlayerTest, DestructionWhilePlayingOrDrainingRaisesNoLateEvent) {
  for (int where = 0; where < 3; ++where) {
    SCOPED_TRACE(where);
    player_ = std::make_unique<TMP3Player>();
    Attach(*player_);
    player_->SetFileName(FixturePath("tone.mp2"));
    Pump();
    const size_t before = device_.Played().size();
    if (where >= 1) {
      ASSERT_TRUE(PlayIntoDrain(before + kMp2Pcm, 2400));
    }
    if (where == 2) player_->Pause();
    events_.clear();
    player_.reset();
    device_.Advance(4800);
    Pump();
    EXPECT_TRUE(Events().empty());
  }
}

TEST_F(PlayerTest, DestructionWhileAWorkerErrorWaits) {
  OpenMemory(LongTone());
  ASSERT_TRUE(PumpUntil([this] { return device_.Pending() > 0; }));
  device_.Lose();
  device_.Advance(4800);
  // The decode thread fails at its next write and waits for this thread.
  std::this_thread::sleep_for(200ms);
  events_.clear();
  player_.reset();
  Pump();
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(errors_.empty());
}

// The error display (a message box, with its own loop) is where the application quits.
TEST_F(PlayerTest, DestructionWhileAWorkerErrorIsShown) {
  player_->SetErrorDisplay([this](std::exception_ptr error) {
    errors_.push_back(error);
    player_.reset();
  });
  OpenMemory(LongTone());
  ASSERT_TRUE(PumpUntil([this] { return device_.Pending() > 0; }));
  device_.Lose();
  ASSERT_TRUE(PumpUntil([this] { return player_ == nullptr; }, 4800));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(Events(), (Log{"status:play"}));
}

TEST_F(PlayerTest, DestructionInsideAnEventHandler) {
  player_->OnEndPlay = [this](TMP3Player&, TMP3EndPlayReason) {
    events_.push_back("end");
    player_.reset();
  };
  player_->SetFileName(FixturePath("tone.mp2"));
  ASSERT_TRUE(PumpUntil([this] { return player_ == nullptr; }, 4800));
  EXPECT_EQ(Events(), (Log{"status:play", "status:stop", "end"}));
}

// A nested loop run before a position notification (as a message box would) destroys the
// component: the handler that started the loop must not touch it afterwards.
TEST_F(PlayerTest, DestructionInTheLoopBeforeAPositionNotification) {
  int nested = 0;
  player_->SetProcessMessages([&] {
    ++nested;
    ProcessMessages();
    player_.reset();
  });
  player_->SetFileName(FixturePath("tone.mp2"));
  ASSERT_TRUE(PumpUntil([this] { return player_ == nullptr; }, 480));
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(positions_, 0);
}

// A write error of the WAV file near its end while a Stop is pending: the sound thread waits
// to have its error shown while the main thread waits for the sound thread.
TEST_F(PlayerTest, AFileWriteErrorNearTheEndWhileStopping) {
  const std::string out =
      (std::filesystem::temp_directory_path() / ("tw-player-" + std::to_string(getpid()) + ".wav"))
          .string();
  struct rlimit old = {};
  getrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 60000;  // the header and one 48000-byte buffer
  setrlimit(RLIMIT_FSIZE, &small);
  struct TRestore {
    const struct rlimit& limit;
    const std::string& file;
    ~TRestore() {
      setrlimit(RLIMIT_FSIZE, &limit);
      std::filesystem::remove(file);
    }
  } restore{old, out};

  player_->SetAutoPlay(false);
  player_->SetFileName(FixturePath("tone.mp2"));
  player_->SetOutputFileName(out);
  player_->Play();
  // Until the limit is reached: the sound thread's write has failed, or is about to.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  std::error_code ec;
  while (std::filesystem::file_size(out, ec) < small.rlim_cur &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(50ms);
  player_->Stop();
  EXPECT_EQ(player_->Status(), mpsStop);
  ASSERT_TRUE(PumpUntil([this] { return !errors_.empty() && Ended(); }));
  for (int i = 0; i < 20; ++i) Pump();

  // Play and Stop came before any pumping: their status notifications are merged.
  EXPECT_EQ(Events(), (Log{"status:stop", "end:stop"}));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_THROW(std::rethrow_exception(errors_[0]), ESoundOutError);
  EXPECT_TRUE(player_->OutputFileName().empty());
}

TEST_F(PlayerTest, WritesAWavFileThroughOutputFileName) {
  const std::string out =
      (std::filesystem::temp_directory_path() / ("tw-wav-" + std::to_string(getpid()) + ".wav"))
          .string();
  player_->SetAutoPlay(false);
  player_->SetFileName(FixturePath("tone.mp2"));
  player_->SetOutputFileName(out);
  EXPECT_FALSE(player_->Capabilities().Contains(mpcPause)) << "a file cannot pause";
  player_->Play();
  ASSERT_TRUE(PlayToEnd());
  EXPECT_EQ(Events(), (Log{"status:play", "status:stop", "end:end-of-stream"}));
  EXPECT_EQ(std::filesystem::file_size(out), 44 + kMp2Pcm);
  EXPECT_TRUE(player_->OutputFileName().empty());
  std::filesystem::remove(out);
}

// Resynchronisation over damaged Layer II data.
TEST_F(PlayerTest, ResyncRules) {
  const std::vector<uint8_t> clean = ReadFixture("tone.mp2");
  ASSERT_EQ(clean.size(), size_t{kMp2Frames} * kMp2FrameBytes);
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    int32_t frames;  // frames heard
  };
  const auto garbageAfterFrame20 = [&](size_t n) {
    std::vector<uint8_t> bytes(clean.begin(), clean.begin() + 21 * kMp2FrameBytes);
    bytes.insert(bytes.end(), n, 0);
    bytes.insert(bytes.end(), clean.begin() + 21 * kMp2FrameBytes, clean.end());
    return bytes;
  };
  const Case cases[] = {
      {"a corrupt first byte of frame 10 drops that frame alone",
       [&] {
         std::vector<uint8_t> bytes = clean;
         bytes[10 * kMp2FrameBytes] = 0x00;
         return bytes;
       },
       kMp2Frames - 1},
      {"4096 bytes of garbage are skipped", [&] { return garbageAfterFrame20(4096); }, kMp2Frames},
      {"more than 4096 bytes of garbage end the stream", [&] { return garbageAfterFrame20(4097); },
       21},
      {"a cut last frame is not played",
       [&] { return std::vector<uint8_t>(clean.begin(), clean.end() - 100); }, kMp2Frames - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    const size_t before = device_.Played().size();
    OpenMemory(c.make());
    ASSERT_TRUE(PlayToEnd());
    EXPECT_EQ(Events().back(), "end:end-of-stream");
    EXPECT_EQ(device_.Played().size() - before, static_cast<size_t>(c.frames) * kMp2PcmPerFrame);
  }
}

// A corrupt header mid-stream leaves no silent frame: the PCM goes on from the next frame.
TEST_F(PlayerTest, ASkippedFrameLeavesNoSilence) {
  std::vector<uint8_t> bytes = ReadFixture("tone.mp2");
  bytes[10 * kMp2FrameBytes + 1] = 0x00;
  OpenMemory(bytes);
  ASSERT_TRUE(PlayToEnd());
  const std::vector<uint8_t> pcm = device_.Played();
  // A silent frame would be 2304 zero bytes in a row; the tone never rests that long.
  size_t run = 0, longest = 0;
  for (size_t i = 2 * kMp2PcmPerFrame; i < pcm.size(); ++i) {
    run = pcm[i] == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_LT(longest, 64u);
}

TEST_F(PlayerTest, VbrHeaderFrameIsSkippedAndBoundsTheAudio) {
  const std::vector<uint8_t> bytes = ReadFixture("tone-vbr.mp3");
  player_->SetAutoPlay(false);
  player_->SetFileName(FixturePath("tone-vbr.mp3"));
  ASSERT_TRUE(player_->IsOpen());
  EXPECT_TRUE(player_->HasVbrHeader());
  // The Xing header sits after the MPEG-2 mono side information; frames and bytes follow.
  const auto word = [&](size_t at) {
    return static_cast<int32_t>(uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                                uint32_t{bytes[at + 2]} << 8 | bytes[at + 3]);
  };
  ASSERT_EQ(std::string(bytes.begin() + 13, bytes.begin() + 17), "Xing");
  const int32_t frames = word(13 + 8);
  const int32_t audioBytes = word(13 + 12);
  const int32_t headerFrame = player_->AudioStart();
  EXPECT_GT(headerFrame, 0);
  EXPECT_EQ(player_->AudioSize(), audioBytes - headerFrame);
  player_->Play();
  ASSERT_TRUE(PlayToEnd());
  EXPECT_EQ(Events().back(), "end:end-of-stream");
  EXPECT_EQ(device_.Played().size(), size_t(frames) * 1152);

  player_->SetFileName(FixturePath("tone.mp3"));
  EXPECT_FALSE(player_->HasVbrHeader());
  EXPECT_EQ(player_->AudioStart(), 0);
}

TEST_F(PlayerTest, AFileOfTwoGibibytesIsRefused) {
  const std::string name =
      (std::filesystem::temp_directory_path() / ("tw-large-" + std::to_string(getpid()) + ".mp3"))
          .string();
  {
    std::vector<uint8_t> head = ReadFixture("tone.mp2");
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(head.data()),
               static_cast<std::streamsize>(head.size()));
  }
  std::filesystem::resize_file(name, uint64_t{1} << 31);  // sparse
  try {
    player_->SetFileName(name);
    ADD_FAILURE() << "opened";
  } catch (const EMP3PlayerError& e) {
    EXPECT_STREQ(e.what(), "unknown MPEG Audio format.");
  }
  EXPECT_FALSE(player_->IsOpen());
  EXPECT_TRUE(player_->FileName().empty());
  // One byte less is still a file the offsets can hold.
  std::filesystem::resize_file(name, (uint64_t{1} << 31) - 1);
  player_->SetAutoPlay(false);
  player_->SetFileName(name);
  EXPECT_TRUE(player_->IsOpen());
  player_->Close();
  std::filesystem::remove(name);
}

TEST_F(PlayerTest, UnplayableFilesAreRefusedAndLeaveTheComponentClosed) {
  const std::vector<uint8_t> noise(20000, 0x41);
  try {
    OpenMemory(noise);
    ADD_FAILURE() << "opened";
  } catch (const EMP3PlayerError& e) {
    EXPECT_STREQ(e.what(), UnknownFormatMessage);
  }
  EXPECT_FALSE(player_->IsOpen());
  EXPECT_EQ(player_->Status(), mpsStop);
  EXPECT_THROW(player_->SetFileName("/nonexistent/tunewell.mp3"), std::system_error);
}

TEST_F(PlayerTest, CapabilitiesFollowTheStatus) {
  EXPECT_EQ(player_->Capabilities(), TMP3PlayerCapabilities{mpcOpen});
  player_->SetAutoPlay(false);
  player_->SetFileName(FixturePath("tone.mp2"));
  EXPECT_EQ(player_->Capabilities(),
            (TMP3PlayerCapabilities{mpcOpen, mpcClose, mpcPlay, mpcStopped}));
  player_->Pause();  // nothing plays: nothing happens
  EXPECT_EQ(player_->Status(), mpsStop);
  player_->Play();
  EXPECT_EQ(player_->Capabilities(),
            (TMP3PlayerCapabilities{mpcOpen, mpcClose, mpcStop, mpcPause, mpcSeek}));
  player_->Pause();
  EXPECT_EQ(player_->Capabilities(),
            (TMP3PlayerCapabilities{mpcOpen, mpcClose, mpcStop, mpcResume, mpcSeek}));
  player_->Stop();
  EXPECT_EQ(player_->Status(), mpsStop);
}

TEST_F(PlayerTest, SettersIgnoreOutOfRangeValues) {
  player_->SetVolume(40);
  player_->SetVolume(150);
  EXPECT_EQ(player_->Volume(), 40);
  player_->SetChangePosStep(50);
  EXPECT_EQ(player_->ChangePosStep(), 400);
  player_->SetVolBalance(-101);
  EXPECT_EQ(player_->VolBalance(), 0);
  player_->SetEqualizerCount(33);
  player_->SetEqualizerCount(0);
  EXPECT_EQ(player_->EqualizerCount(), 6);
}

TEST_F(PlayerTest, AutoPlayFalseOnAnOpenStoppedComponentStartsPlayback) {
  player_->SetAutoPlay(false);
  player_->SetFileName(FixturePath("tone.mp2"));
  EXPECT_EQ(player_->Status(), mpsStop);
  player_->SetAutoPlay(false);
  EXPECT_EQ(player_->Status(), mpsPlay);
}

// Settings read from a stored form apply once it is loaded.
TEST_F(PlayerTest, LoadedOpensTheFileAndSpreadsTheBands) {
  player_->BeginLoading();
  player_->SetAutoPlay(false);
  player_->SetEqualizerMode(memFreq);
  player_->SetFileName(FixturePath("tone.mp2"));
  player_->SetVolume(0);
  EXPECT_FALSE(player_->IsOpen()) << "nothing opens while loading";
  EXPECT_EQ(player_->Volume(), 100) << "a stored 0 keeps the device's volume";
  player_->Loaded();
  EXPECT_TRUE(player_->IsOpen());
  EXPECT_EQ(player_->EqualizerFrequency(0), 60);
  EXPECT_EQ(player_->EqualizerFrequency(5), 16000);
}

TEST_F(PlayerTest, TitleFallsBackToTheFileName) {
  player_->SetAutoPlay(false);
  player_->SetFileName(FixturePath("tone.mp2"));
  EXPECT_EQ(player_->Title(), "tone.mp2");
  EXPECT_EQ(player_->Artist(), "");
}

TEST_F(PlayerTest, UsingCpuCapabilitiesKeepsOnlyWhatTheProcessorHas) {
  player_->SetUsingCpuCapabilities(AllCpuCapabilities);
  EXPECT_EQ(player_->UsingCpuCapabilities(), DetectCpuCapabilities());
  player_->SetUsingCpuCapabilities({});
  EXPECT_TRUE(player_->UsingCpuCapabilities().Empty());
}

TEST_F(PlayerTest, ElapsedTimeIsWhatTheDeviceHasPlayed) {
  player_->SetFileName(FixturePath("tone.mp2"));
  Pump();
  EXPECT_EQ(player_->ElapsedMilliseconds(), 0);
  // Two buffers of half a second played.
  ASSERT_TRUE(PumpUntil([this] { return player_->ElapsedMilliseconds() >= 500; }, 480));
  const int64_t played = static_cast<int64_t>(device_.Played().size()) * 1000 / 96000;
  EXPECT_LE(player_->ElapsedMilliseconds(), played);
}

}  // namespace
}  // namespace tunewell::test
