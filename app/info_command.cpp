// --info: each file opened without playing, and what the player found in it.

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/InfoReport.h"
#include "player/MP3Plyr.h"
#include "stream/MPStreamReader.h"

namespace tunewell {

namespace {

// Up to `count` bytes of the file from `offset`; fewer where the file ends.
std::vector<uint8_t> BytesAt(const std::string& fileName, int64_t offset, int32_t count) {
  TFileStream file(fileName);
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  file.Seek(offset, 0);
  int32_t got = 0;
  while (got < count) {
    const int32_t n = file.Read(bytes.data() + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

// The bit rate of the frame at the start of the audio, after any VBR header frame.
int32_t FirstAudioBitrateKbps(const TMP3Player& player) {
  const std::vector<uint8_t> header = BytesAt(player.FileName(), player.AudioStart(), 4);
  if (header.size() < 4) return 0;
  TMPEGHeader parsed{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  if (DecoderFindFirstFrame(header.data(), 4, parsed, bitrate, offset) <= 0 || offset != 0) {
    return 0;
  }
  return bitrate / 1000;
}

// Which VBR header the player skipped: the header frame lies right before the audio.
TVbrHeaderKind VbrKind(const TMP3Player& player) {
  if (!player.HasVbrHeader()) return TVbrHeaderKind::None;
  const uint32_t word = player.FirstHeaderWord();
  const std::array<uint8_t, 4> first = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                        static_cast<uint8_t>(word >> 16),
                                        static_cast<uint8_t>(word >> 24)};
  TMPEGHeader header{};
  const int32_t length = DecoderParseHeader(first.data(), 4, header);
  if (length <= 0) return TVbrHeaderKind::None;
  const int32_t whole = length + header.PaddingBit * (header.LayerCode == 3 ? 4 : 1);
  const std::vector<uint8_t> frame =
      BytesAt(player.FileName(), int64_t{player.AudioStart()} - whole, std::min(whole, 64));
  return FindVbrHeader(frame.data(), static_cast<int32_t>(frame.size()), player.FirstHeader());
}

TStreamFacts FactsOf(TMP3Player& player) {
  TStreamFacts facts;
  facts.FileName = player.FileName();
  facts.Title = player.Title();
  facts.Artist = player.Artist();
  facts.Album = player.Album();
  facts.Year = player.Year();
  facts.Comment = player.Comment();
  facts.Genre = player.Genre();
  facts.Header = player.FirstHeader();
  facts.SampleRate = player.SampleRate();
  facts.Channels = player.OutputFormat().Channels;
  facts.BitrateKbps = FirstAudioBitrateKbps(player);
  facts.Vbr = VbrKind(player);
  facts.AudioStart = player.AudioStart();
  facts.AudioSize = player.AudioSize();
  facts.Tags = player.FoundInfo();
  return facts;
}

}  // namespace

// The members routine selection gives each slot on this processor, as playback would choose.
void PrintRoutines(const TMP3Player& player) {
  DecoderSelectRoutines(SelectedCpuFlags(player.UsingCpuCapabilities()));
  std::string line = "routines:";
  for (int32_t slot = 0; slot < RoutineSlotCount; ++slot) {
    line += ' ';
    line += DecoderRoutineMember(slot);
  }
  std::puts(line.c_str());
}

int RunInfo(const std::vector<std::string>& files) {
  TMP3Player player;
  player.SetAutoPlay(false);
  bool ok = true;
  for (const std::string& file : files) {
    try {
      player.SetFileName(file);
      std::fputs(FormatInfo(FactsOf(player)).c_str(), stdout);
    } catch (const std::exception& e) {
      std::fflush(stdout);
      ReportError(file, ErrorMessage(e));
      ok = false;
    }
  }
  player.Close();
  PrintRoutines(player);
  return ok ? 0 : 1;
}

}  // namespace tunewell
