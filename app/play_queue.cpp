#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "app/PlayQueue.h"

namespace tunewell {

namespace {

// Playlists are short texts; anything this large is no playlist and is not read into memory.
constexpr std::uintmax_t MaxPlaylistBytes = 16u << 20;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "file:///music/a%20b.mp3" names "/music/a b.mp3"; a host part other than localhost is kept out.
std::optional<std::string> FileUrlPath(const std::string& line) {
  static constexpr std::string_view scheme = "file://";
  if (line.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
  std::string rest = line.substr(scheme.size());
  if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
  if (rest.empty() || rest[0] != '/') return std::nullopt;
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
        HexValue(rest[i + 2]) >= 0) {
      path += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

std::string ResolveLine(const std::string& line, const std::filesystem::path& folder) {
  if (line.empty()) return line;
  if (auto path = FileUrlPath(line))
    return std::filesystem::path(*path).lexically_normal().string();
  const std::filesystem::path entry(line);
  return (entry.is_absolute() ? entry : folder / entry).lexically_normal().string();
}

}  // namespace

std::string QueueExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = fileName.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
  return extension;
}

void TPlayQueue::AppendPlaylist(std::vector<std::string>& list, const std::string& fileName) {
  std::error_code error;
  if (std::filesystem::is_directory(fileName, error)) throw std::runtime_error("is a directory");
  const auto size = std::filesystem::file_size(fileName, error);
  if (error) throw std::runtime_error(error.message());
  if (size > MaxPlaylistBytes) throw std::runtime_error("playlist too large");
  std::ifstream file(fileName, std::ios::binary);
  if (!file) throw std::runtime_error(std::strerror(errno));
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) throw std::runtime_error("read error");
  // No file name holds a zero byte: a line with one would open the name cut short at it.
  if (text.find('\0') != std::string::npos) {
    throw std::runtime_error("not a playlist (it holds binary data)");
  }

  const auto folder = std::filesystem::path(fileName).parent_path();
  for (const std::string& line : SplitLines(text)) list.push_back(ResolveLine(line, folder));
}

TPlayQueue::TState TPlayQueue::Drop(const std::vector<std::string>& files) {
  songs_ = files;
  expanded_.assign(files.size(), false);
  playedSinceDrop_ = false;
  failedSinceDrop_ = false;
  const size_t dropped = songs_.size();
  for (size_t i = 0; i < dropped; ++i) {
    if (QueueExtension(songs_[i]) != ".m3u") continue;
    expanded_[i] = true;
    const std::string playlist = songs_[i];  // appending may move the entries
    try {
      AppendPlaylist(songs_, playlist);
    } catch (const std::exception& e) {
      failedSinceDrop_ = true;
      if (callbacks_.OnError) callbacks_.OnError(playlist, e.what());
    }
  }
  expanded_.resize(songs_.size(), false);
  return PlayFirstSong();
}

TPlayQueue::TState TPlayQueue::EndPlay() {
  if (state_ != TState::Playing) return state_;
  PopFront();
  return PlayFirstSong();
}

void TPlayQueue::PopFront() {
  songs_.erase(songs_.begin());
  expanded_.erase(expanded_.begin());
}

TPlayQueue::TState TPlayQueue::PlayFirstSong() {
  while (!songs_.empty()) {
    if (QueueExtension(songs_.front()) != ".mp3") {
      if (!expanded_.front() && callbacks_.OnSkipped) callbacks_.OnSkipped(songs_.front());
      PopFront();
      continue;
    }
    const auto error = callbacks_.Start(songs_.front());
    if (!error) {
      playedSinceDrop_ = true;
      return state_ = TState::Playing;
    }
    failedSinceDrop_ = true;
    if (callbacks_.OnError) callbacks_.OnError(songs_.front(), error->Message);
    // A failing device would fail every song in turn: stop the queue instead.
    if (error->Kind == TStartError::TKind::Device) return state_ = TState::Waiting;
    PopFront();
  }
  // A drop whose every song failed leaves the program waiting for the next drop.
  return state_ = (failedSinceDrop_ && !playedSinceDrop_) ? TState::Waiting : TState::Finished;
}

std::string TPlayQueue::ListingText() const {
  std::string text;
  for (const std::string& entry : songs_) text += entry + "\r\n";
  return text;
}

}  // namespace tunewell
