#pragma once
// The play queue: what a drop (or the command line) asks to play, in playing order. It knows
// nothing of windows or terminals; a front end gives it a way to start a song and to report.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tunewell {

// Lower-cased extension of the last path component, dot included; empty when there is none.
std::string QueueExtension(const std::string& fileName);

// Why a song could not be started.
struct TStartError {
  enum class TKind { File, Device };
  TKind Kind;
  std::string Message;
};

class TPlayQueue {
 public:
  enum class TState { Waiting, Playing, Finished };

  struct TCallbacks {
    // Opens and plays a file; an error when it could not.
    std::function<std::optional<TStartError>(const std::string& fileName)> Start;
    // An entry or playlist that failed, with the reason.
    std::function<void(const std::string& fileName, const std::string& message)> OnError;
    // An entry the queue rules leave out (not an .mp3 file).
    std::function<void(const std::string& fileName)> OnSkipped;
  };

  explicit TPlayQueue(TCallbacks callbacks) : callbacks_(std::move(callbacks)) {}

  // Replaces the queue with the dropped names (absolute paths, in drop order), expands the
  // playlists among them and starts the first song.
  TState Drop(const std::vector<std::string>& files);
  // The song at the front ended or was skipped: the next one starts.
  TState EndPlay();

  TState State() const { return state_; }
  // Entry 0 is the song playing, or about to play.
  const std::vector<std::string>& SongList() const { return songs_; }
  // The entries one per line, each ending in CR LF.
  std::string ListingText() const;

  // Appends the lines of a playlist to `list`, relative lines resolved against the playlist's
  // folder. Throws std::runtime_error when the playlist cannot be read.
  static void AppendPlaylist(std::vector<std::string>& list, const std::string& fileName);

 private:
  TState PlayFirstSong();
  void PopFront();

  TCallbacks callbacks_;
  std::vector<std::string> songs_;
  // Placeholders of the playlists the drop expanded: they leave the front without a report.
  std::vector<bool> expanded_;
  bool playedSinceDrop_ = false;
  bool failedSinceDrop_ = false;
  TState state_ = TState::Waiting;
};

}  // namespace tunewell
