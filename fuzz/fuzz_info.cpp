// Runs the tag reader's whole read sequence and its accessors over arbitrary bytes, once as a
// seekable file and once as a stream that cannot seek.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "info/MP3Info.h"
#include "stream/MPStreamReader.h"

namespace {

using namespace tunewell;

void ReadAll(TByteStream& source, bool seekable, TMPStreamReader& reader) {
  reader.Open(&source, seekable);
  TMP3Info info;
  info.SetReader(&reader);
  info.ReadLeadingInfo();
  if (seekable) info.ReadTrailingInfo();
  for (const std::string& text : {info.GetTitle(), info.GetArtist(), info.GetAlbum(),
                                  info.GetYear(), info.GetComment(), info.GetGenre()}) {
    DisplayText(text);
  }
  if (info.DataStart() < 0 || info.DataLength() < 0) __builtin_trap();
  reader.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A small ring makes wrap-around, rotation and oversized frames reachable with small inputs;
  // the component's own size is covered too. The choice is the size's parity, so that it does
  // not depend on the bytes the wrappers are recognised by.
  const int32_t capacity = size % 2 != 0 ? 65536 : 512;
  TMPStreamReader reader(capacity);
  std::vector<uint8_t> bytes(data, data + size);
  TMemoryStream file(bytes);
  ReadAll(file, true, reader);
  TMemoryStream pipeSource(bytes);
  TNonSeekableStream pipe(pipeSource, 1000);
  ReadAll(pipe, false, reader);
  return 0;
}
