// The play queue in the terminal: one status line, keys for the tray menu's actions.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/PlayQueue.h"
#include "app/Terminal.h"
#include "info/MP3Info.h"
#include "platform/NotifyWindow.h"
#include "platform/WaveOut.h"
#include "player/MP3Plyr.h"

namespace tunewell {

namespace {

constexpr uint32_t WM_TERMINALKEY = WM_USER + 1;

// The tag menu's captions, in its order.
constexpr const char* TagCaptions[] = {"タイトル", "アーティスト", "アルバム",
                                       "年",       "コメント",     "ジャンル"};

class TTerminalPlayer {
 public:
  explicit TTerminalPlayer(bool keys);
  ~TTerminalPlayer();

  int Run(const std::vector<std::string>& arguments);

 private:
  std::optional<TStartError> Start(const std::string& fileName);
  void Finish(TPlayQueue::TState state);
  void Quit(int status);
  void ReportSkipped(const std::string& name);
  // Runs a handler; what it throws is shown and the program goes on.
  template <typename F>
  void Guarded(F&& handler);
  void OnKey(char key);
  void OnSignal(int signo);

  // The status line, drawn only where it can be redrawn in place.
  void DrawStatus();
  void ClearStatus();
  // Prints whole lines above the status line.
  void Say(std::FILE* stream, const std::string& lines);
  void ShowTags();
  void ShowQueue();

  bool statusOnTty_;
  bool statusShown_ = false;
  bool quitting_ = false;
  bool failed_ = false;
  int exitStatus_ = 0;
  bool pauseChecked_ = false;
  bool polarityChecked_ = false;
  std::string current_;
  std::set<std::string> arguments_;

  TMessageLoop loop_;
  TMP3Player player_;
  TPlayQueue queue_;
  std::unique_ptr<TTerminalMode> mode_;
  std::unique_ptr<TNotifyWindow> keyWindow_;
  std::unique_ptr<TKeyReader> keyReader_;
};

TTerminalPlayer::TTerminalPlayer(bool keys)
    : statusOnTty_(isatty(STDOUT_FILENO) != 0),
      queue_({[this](const std::string& name) { return Start(name); },
              [this](const std::string& name, const std::string& message) {
                failed_ = true;
                Say(stderr, "tunewell: " + name + ": " + message + "\n");
              },
              [this](const std::string& name) { ReportSkipped(name); }}) {
  player_.SetAutoPlay(false);
  player_.OnEndPlay = [this](TMP3Player&, TMP3EndPlayReason) {
    Guarded([this] {
      if (!quitting_) Finish(queue_.EndPlay());
    });
  };
  player_.OnChangePosition = [this](TMP3Player&) { DrawStatus(); };
  player_.OnChangeStatus = [this](TMP3Player&) { DrawStatus(); };
  player_.SetErrorDisplay([this](std::exception_ptr error) {
    failed_ = true;
    Say(stderr, "tunewell: " + current_ + ": " + ErrorMessage(error) + "\n");
  });
  if (keys) {
    mode_ = std::make_unique<TTerminalMode>(STDIN_FILENO);
    mode_->Enter();
    keyWindow_ = std::make_unique<TNotifyWindow>([this](const Message& message) {
      if (message.message != WM_TERMINALKEY) return;
      Guarded([this, &message] { OnKey(static_cast<char>(message.wParam)); });
    });
    keyReader_ = std::make_unique<TKeyReader>(STDIN_FILENO, [this](char key) {
      keyWindow_->Post(WM_TERMINALKEY, static_cast<unsigned char>(key));
    });
  }
}

// The key thread goes first: nothing posts to the key window once it is gone.
TTerminalPlayer::~TTerminalPlayer() {
  keyReader_.reset();
}

int TTerminalPlayer::Run(const std::vector<std::string>& arguments) {
  std::vector<std::string> files;
  for (const std::string& argument : arguments) {
    const std::string path = std::filesystem::absolute(argument).lexically_normal().string();
    arguments_.insert(path);
    files.push_back(path);
  }
  loop_.OnSignal([this](int signo) { OnSignal(signo); });
  WatchSignals({SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT});
  Finish(queue_.Drop(files));
  if (!quitting_) loop_.Run();
  ClearStatus();
  if (mode_) mode_->Restore();
  return exitStatus_;
}

std::optional<TStartError> TTerminalPlayer::Start(const std::string& fileName) {
  current_ = fileName;
  try {
    player_.SetFileName(fileName);
  } catch (const std::exception& e) {
    return TStartError{TStartError::TKind::File, ErrorMessage(e)};
  }
  try {
    player_.Play();
  } catch (const std::exception& e) {
    player_.Close();
    const bool device = dynamic_cast<const ESoundOutError*>(&e) != nullptr;
    return TStartError{device ? TStartError::TKind::Device : TStartError::TKind::File,
                       ErrorMessage(e)};
  }
  if (!statusOnTty_) {
    std::printf("%s / %s\n", DisplayText(player_.Title()).c_str(),
                DisplayText(player_.Artist()).c_str());
    std::fflush(stdout);
  }
  DrawStatus();
  return std::nullopt;
}

void TTerminalPlayer::Finish(TPlayQueue::TState state) {
  switch (state) {
    case TPlayQueue::TState::Playing:
      return;
    case TPlayQueue::TState::Finished:
      return Quit(failed_ ? 1 : 0);
    case TPlayQueue::TState::Waiting:
      // Nothing of the queue could play, or the device failed: there is no drop to wait for.
      return Quit(1);
  }
}

void TTerminalPlayer::Quit(int status) {
  if (quitting_) return;
  quitting_ = true;
  exitStatus_ = status;
  loop_.Quit(status);
  player_.Close();
}

// Only the command line's own arguments: a playlist's comment lines are no news.
void TTerminalPlayer::ReportSkipped(const std::string& name) {
  if (arguments_.count(name) == 0) return;
  Say(stderr, "tunewell: " + name + ": skipped, not an .mp3 file or .m3u playlist\n");
}

template <typename F>
void TTerminalPlayer::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    failed_ = true;
    Say(stderr, "tunewell: " + current_ + ": " + ErrorMessage(e) + "\n");
  }
}

void TTerminalPlayer::OnKey(char key) {
  if (quitting_) return;
  switch (key) {
    case ' ':
      // The menu's check mark: toggled on every press, whatever the player is doing.
      pauseChecked_ = !pauseChecked_;
      if (pauseChecked_) {
        player_.Pause();
      } else {
        player_.Resume();
      }
      break;
    case 'n':
      player_.Stop();
      break;
    case 'i':
      polarityChecked_ = !polarityChecked_;
      player_.SetInvertPolarity(polarityChecked_);
      Say(stdout, polarityChecked_ ? "polarity inverted\n" : "polarity normal\n");
      break;
    case 't':
      ShowTags();
      break;
    case 'l':
      ShowQueue();
      break;
    case 'q':
      Quit(failed_ ? 1 : 0);
      break;
    default:
      break;
  }
}

void TTerminalPlayer::OnSignal(int signo) {
  switch (signo) {
    case SIGTSTP:
      // Stop with the terminal as the shell expects to find it.
      ClearStatus();
      if (mode_) mode_->Restore();
      raise(SIGSTOP);
      break;
    case SIGCONT:
      if (mode_) mode_->Enter();
      DrawStatus();
      break;
    default:
      Guarded([this, signo] { Quit(128 + signo); });
      break;
  }
}

void TTerminalPlayer::DrawStatus() {
  if (!statusOnTty_ || quitting_ || !player_.IsOpen() || !IsForeground(STDOUT_FILENO)) return;
  // Back in the foreground without a SIGCONT (the shell's own `fg` of a running job).
  if (mode_) mode_->Enter();
  const std::string line = FormatStatusLine(
      DisplayText(player_.Title()), DisplayText(player_.Artist()), player_.ElapsedMilliseconds(),
      player_.Status() == mpsPause, TerminalColumns(STDOUT_FILENO) - 1);
  std::printf("\r%s\x1b[K", line.c_str());
  std::fflush(stdout);
  statusShown_ = true;
}

void TTerminalPlayer::ClearStatus() {
  if (!statusShown_) return;
  std::printf("\r\x1b[K");
  std::fflush(stdout);
  statusShown_ = false;
}

void TTerminalPlayer::Say(std::FILE* stream, const std::string& lines) {
  ClearStatus();
  std::fputs(lines.c_str(), stream);
  std::fflush(stream);
  DrawStatus();
}

void TTerminalPlayer::ShowTags() {
  if (!player_.IsOpen()) return;
  const std::string values[] = {player_.Title(), player_.Artist(),  player_.Album(),
                                player_.Year(),  player_.Comment(), player_.Genre()};
  std::string text;
  for (size_t i = 0; i < std::size(values); ++i) {
    text += std::string(TagCaptions[i]) + ": " + DisplayText(values[i]) + "\n";
  }
  Say(stdout, text);
}

void TTerminalPlayer::ShowQueue() {
  std::string text;
  for (const std::string& entry : queue_.SongList()) text += entry + "\n";
  Say(stdout, text);
}

}  // namespace

int RunTerminal(const std::vector<std::string>& arguments, const std::string& device) {
  if (!device.empty()) SetWaveMapperDevice(device);
  TTerminalPlayer player(isatty(STDIN_FILENO) != 0);
  return player.Run(arguments);
}

}  // namespace tunewell
