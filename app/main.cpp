// The tunewell command. Playback is still being built: for now it reports what it finds in
// each file's first frame.

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "decoder/MP3decdr.h"
#include "player/MP3Plyr.h"
#include "stream/MPStreamReader.h"

namespace {

using namespace tunewell;

const char* LayerName(int32_t layerCode) {
  static constexpr const char* names[] = {"reserved", "III", "II", "I"};
  return names[layerCode & 3];
}

const char* VersionName(const TMPEGHeader& h) {
  if (h.VersionId == 1) return "MPEG-1";
  return h.SyncKind == 2 ? "MPEG-2.5" : "MPEG-2";
}

const char* ModeName(int32_t mode) {
  static constexpr const char* names[] = {"stereo", "joint stereo", "dual channel",
                                          "single channel"};
  return names[mode & 3];
}

bool PrintInfo(const char* fileName) {
  TFileStream file(fileName);
  TMPStreamReader reader(65536);
  reader.Open(&file, true);
  reader.Fill(reader.Capacity());
  TMPEGHeader header{};
  int32_t bitrate = 0;
  uint32_t offset = 0;
  const int32_t length = DecoderFindFirstFrame(
      reader.Current(), static_cast<uint32_t>(reader.Count()), header, bitrate, offset);
  if (length <= 0) {
    std::fprintf(stderr, "tunewell: %s: unknown MPEG Audio format.\n", fileName);
    return false;
  }
  std::printf("file: %s\nformat: %s Layer %s\nmode: %s\nbitrate: %d\naudio_start: %u\n\n", fileName,
              VersionName(header), LayerName(header.LayerCode), ModeName(header.Mode),
              bitrate / 1000, offset);
  return true;
}

int Usage(FILE* out, int status) {
  std::fprintf(out,
               "usage: tunewell --info FILE ...\n"
               "Playback is not built yet; --info shows each file's first MPEG audio frame.\n");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("tunewell 0.1.0\n");
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) return Usage(stdout, 0);
  if (argc < 3 || std::strcmp(argv[1], "--info") != 0) return Usage(stderr, 2);
  bool ok = true;
  for (int i = 2; i < argc; ++i) {
    try {
      ok = PrintInfo(argv[i]) && ok;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tunewell: %s\n", e.what());
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
