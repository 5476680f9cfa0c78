#pragma once
// The terminal under the command-line player: its mode, the keys typed at it and the one
// status line. Nothing here knows the player.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace tunewell {

// True when the descriptor is a terminal and this process's group owns it.
bool IsForeground(int fd);

// Non-canonical input without echo on a terminal, for as long as this object lives. Signals
// (Ctrl-C, Ctrl-Z) keep working. The saved mode is also put back on exit() and on a fatal
// signal, so no way out leaves the terminal unusable.
class TTerminalMode {
 public:
  explicit TTerminalMode(int fd);
  ~TTerminalMode();
  TTerminalMode(const TTerminalMode&) = delete;
  TTerminalMode& operator=(const TTerminalMode&) = delete;

  // Takes the terminal into key mode when the process is in the foreground; does nothing
  // otherwise (changing the mode from the background would stop the process).
  void Enter();
  // Puts the saved mode back.
  void Restore();
  bool Active() const { return active_; }

 private:
  int fd_;
  bool active_ = false;
};

// Reads keys on a thread of its own and hands each byte to `onKey` (on that thread). Bytes
// are read only while the process owns the terminal.
class TKeyReader {
 public:
  TKeyReader(int fd, std::function<void(char)> onKey);
  ~TKeyReader();
  TKeyReader(const TKeyReader&) = delete;
  TKeyReader& operator=(const TKeyReader&) = delete;

 private:
  void Run();

  int fd_;
  std::function<void(char)> onKey_;
  int stopFd_ = -1;
  std::thread thread_;
};

// Columns a UTF-8 text takes on a terminal: two for East Asian wide characters, none for
// combining marks.
int DisplayWidth(std::string_view utf8);
// The longest prefix of UTF-8 text that fits in `columns`, never splitting a character.
std::string_view CutToWidth(std::string_view utf8, int columns);

// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatElapsed(int64_t milliseconds);
// The status line: pause mark, elapsed time, "title / artist", cut to `columns`.
std::string FormatStatusLine(std::string_view title, std::string_view artist,
                             int64_t elapsedMilliseconds, bool paused, int columns);

// Columns of the terminal on fd, or 80 when it cannot tell.
int TerminalColumns(int fd);

}  // namespace tunewell
