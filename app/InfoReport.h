#pragma once
// The text --info prints for one file.

#include <cstdint>
#include <string>

#include "decoder/MP3decdr.h"
#include "info/MP3Info.h"
#include "player/MP3Plyr.h"

namespace tunewell {

// What the player found when it opened a file, as the report needs it. Tag values are the
// component's, as bytes.
struct TStreamFacts {
  std::string FileName;
  std::string Title, Artist, Album, Year, Comment, Genre;
  TMPEGHeader Header{};
  int32_t SampleRate = 0;
  int32_t Channels = 0;
  // Of the first audio frame, after a VBR header frame.
  int32_t BitrateKbps = 0;
  TVbrHeaderKind Vbr = TVbrHeaderKind::None;
  int32_t AudioStart = 0;
  int32_t AudioSize = 0;
  TMP3InfoType Tags;
};

// "MPEG-1 Layer III" and the like.
std::string FormatName(const TMPEGHeader& header);
// "stereo", "joint stereo", "dual channel" or "single channel".
std::string ModeName(int32_t mode);
// The report's lines, each ending in a line break, and the empty line after them.
std::string FormatInfo(const TStreamFacts& facts);

}  // namespace tunewell
