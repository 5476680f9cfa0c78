#include "app/InfoReport.h"

namespace tunewell {

namespace {

// Tag text on one line, readable: Shift-JIS decoded, line breaks and other controls as spaces.
std::string OneLine(const std::string& tagText) {
  std::string text = DisplayText(tagText);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

std::string Line(const char* key, const std::string& value) {
  return value.empty() ? std::string(key) + ":\n" : std::string(key) + ": " + value + "\n";
}

std::string TagKinds(TMP3InfoType found) {
  static constexpr std::pair<TMP3InfoKind, const char*> names[] = {{mitID3V1, "ID3v1"},
                                                                   {mitID3V2, "ID3v2"},
                                                                   {mitRiff, "RIFF"},
                                                                   {mitMacBin, "MacBinary"},
                                                                   {mitLyrics, "Lyrics3"}};
  std::string kinds;
  for (const auto& [kind, name] : names) {
    if (!found.Contains(kind)) continue;
    if (!kinds.empty()) kinds += ' ';
    kinds += name;
  }
  return kinds;
}

const char* VbrName(TVbrHeaderKind kind) {
  switch (kind) {
    case TVbrHeaderKind::Xing:
      return "Xing";
    case TVbrHeaderKind::Vbri:
      return "VBRI";
    case TVbrHeaderKind::None:
      break;
  }
  return "none";
}

}  // namespace

std::string FormatName(const TMPEGHeader& header) {
  static constexpr const char* layers[] = {"reserved", "III", "II", "I"};
  const char* version = header.VersionId == 1  ? "MPEG-1"
                        : header.SyncKind == 2 ? "MPEG-2.5"
                                               : "MPEG-2";
  return std::string(version) + " Layer " + layers[header.LayerCode & 3];
}

std::string ModeName(int32_t mode) {
  static constexpr const char* names[] = {"stereo", "joint stereo", "dual channel",
                                          "single channel"};
  return names[mode & 3];
}

std::string FormatInfo(const TStreamFacts& facts) {
  std::string text = Line("file", facts.FileName);
  text += Line("title", OneLine(facts.Title));
  text += Line("artist", OneLine(facts.Artist));
  text += Line("album", OneLine(facts.Album));
  text += Line("year", OneLine(facts.Year));
  text += Line("comment", OneLine(facts.Comment));
  text += Line("genre", OneLine(facts.Genre));
  text += Line("format", FormatName(facts.Header));
  text += Line("sample_rate", std::to_string(facts.SampleRate));
  text += Line("channels", std::to_string(facts.Channels));
  text += Line("mode", ModeName(facts.Header.Mode));
  text += Line("bitrate", std::to_string(facts.BitrateKbps));
  text += Line("vbr", VbrName(facts.Vbr));
  text += Line("audio_start", std::to_string(facts.AudioStart));
  text += Line("audio_size", std::to_string(facts.AudioSize));
  text += Line("tags", TagKinds(facts.Tags));
  return text + "\n";
}

}  // namespace tunewell
