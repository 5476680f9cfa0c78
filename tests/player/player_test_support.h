#pragma once
// A TMP3Player on a test wave device whose clock the test drives, with its events recorded.

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/NotifyWindow.h"
#include "player/MP3Plyr.h"

namespace tunewell::test {

inline std::string FixturePath(const std::string& name) {
  return std::string(TW_SOURCE_DIR) + "/tests/player/fixtures/" + name;
}

inline std::vector<uint8_t> ReadFixture(const std::string& name) {
  std::ifstream in(FixturePath(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline const char* StatusName(TMP3PlayerStatus status) {
  static constexpr const char* names[] = {"stop", "play", "pause"};
  return names[status];
}

inline const char* ReasonName(TMP3EndPlayReason reason) {
  static constexpr const char* names[] = {"end-of-stream", "stop", "error"};
  return names[reason];
}

// tone.mp2: 42 frames of 192 bytes, each 1152 mono samples at 48000 Hz.
constexpr int32_t kMp2Frames = 42;
constexpr int32_t kMp2FrameBytes = 192;
constexpr int32_t kMp2PcmPerFrame = 2304;

class PlayerHarness : public ::testing::Test {
 protected:
  PlayerHarness()
      : device_(std::string("player-") +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                4800) {
    SetWaveMapperDevice(device_.Name());
    player_ = std::make_unique<TMP3Player>();
    Attach(*player_);
  }
  ~PlayerHarness() override {
    player_.reset();
    SetWaveMapperDevice("");
  }

  void Attach(TMP3Player& player) {
    player.OnChangeStatus = [this](TMP3Player& sender) {
      events_.push_back(std::string("status:") + StatusName(sender.Status()));
    };
    player.OnEndPlay = [this](TMP3Player&, TMP3EndPlayReason reason) {
      events_.push_back(std::string("end:") + ReasonName(reason));
    };
    player.OnChangePosition = [this](TMP3Player&) { ++positions_; };
    player.SetErrorDisplay([this](std::exception_ptr error) { errors_.push_back(error); });
  }

  // Events without the position ticks.
  std::vector<std::string> Events() const { return events_; }

  static void Pump() { ProcessMessages(); }

  // Pumps (and lets the device play `frames` per pass) until the condition holds.
  bool PumpUntil(const std::function<bool()>& done, long frames = 0, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      Pump();
      if (frames > 0) device_.Advance(frames);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  bool Ended() const {
    for (const std::string& e : events_) {
      if (e.rfind("end:", 0) == 0) return true;
    }
    return false;
  }

  bool PlayToEnd() {
    return PumpUntil([this] { return Ended(); }, 4800);
  }

  // Lets the device play until the decode thread has handed over every byte of the stream, so
  // that it waits in the end-of-stream drain; `left` frames stay unplayed.
  bool PlayIntoDrain(size_t pcmBytes, long left) {
    return PumpUntil([&] {
      const size_t written = device_.Played().size() + static_cast<size_t>(device_.Pending()) * 2;
      if (written < pcmBytes) {
        if (device_.Pending() > left) device_.Advance(device_.Pending() - left);
        return false;
      }
      return true;
    });
  }

  void OpenMemory(std::vector<uint8_t> bytes) {
    player_->Open(std::make_unique<TMemoryStream>(std::move(bytes)), true);
  }

  std::string ErrorText(size_t i) const {
    try {
      std::rethrow_exception(errors_.at(i));
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  TTestWaveDevice device_;
  std::unique_ptr<TMP3Player> player_;
  std::vector<std::string> events_;
  int positions_ = 0;
  std::vector<std::exception_ptr> errors_;
};

}  // namespace tunewell::test
