// Layer III frame drivers: side information, frame length and the bit reservoir that joins each
// frame's main data to the data of earlier frames.

#include <algorithm>
#include <cstring>

#include "decoder/MP3decdr.h"
#include "decoder/layer3_state.h"

namespace tunewell {

namespace {

constexpr uint32_t Mpeg1Sync = 0xFFF;
constexpr uint32_t Mpeg25Sync = 0xFFE;
constexpr int32_t SingleChannel = 3;
constexpr int32_t JointStereo = 1;
constexpr uint8_t LayerBits = 0x06;  // of the second header byte
constexpr uint8_t Layer3Bits = 0x02;

void ReadGranuleInfo(BitReader& r, bool mpeg1, int32_t gainOffset, GranuleInfo& g) {
  g.Part2_3Length = static_cast<int32_t>(r.Read(12));
  g.BigValues = static_cast<int32_t>(r.Read(9));
  g.GlobalGain = static_cast<int32_t>(r.Read(8)) + gainOffset;
  g.ScalefacCompress = static_cast<int32_t>(r.Read(mpeg1 ? 4 : 9));
  g.WindowSwitching = static_cast<int32_t>(r.Read(1));
  if (g.WindowSwitching != 0) {
    g.BlockType = static_cast<int32_t>(r.Read(2));
    g.MixedBlock = static_cast<int32_t>(r.Read(1));
    g.TableSelect[0] = static_cast<int32_t>(r.Read(5));
    g.TableSelect[1] = static_cast<int32_t>(r.Read(5));
    for (auto& gain : g.SubblockGain) gain = static_cast<int32_t>(r.Read(3));
    // Implied region counts: region 2 is empty.
    const bool lsfShort = !mpeg1 && g.BlockType == 2;
    g.Region0Count = lsfShort ? 5 : 7;
    g.Region1Count = lsfShort ? 15 : 13;
  } else {
    g.BlockType = 0;
    g.MixedBlock = 0;
    for (auto& table : g.TableSelect) table = static_cast<int32_t>(r.Read(5));
    g.Region0Count = static_cast<int32_t>(r.Read(4));
    g.Region1Count = static_cast<int32_t>(r.Read(3));
  }
  g.Preflag = mpeg1 ? static_cast<int32_t>(r.Read(1)) : 0;
  g.ScalefacScale = static_cast<int32_t>(r.Read(1));
  g.Count1TableSelect = static_cast<int32_t>(r.Read(1));
}

// The length of this frame with its padding, from its own header read as Layer III (the layer
// bits are not looked at): its bit-rate index, or the open's length for free format. 0 or less
// when the header gives none.
int32_t FrameLengthOf(const Layer3State& s, const uint8_t* frame, int32_t readable) {
  std::array<uint8_t, 4> header{};
  std::copy_n(frame, std::clamp(readable, 0, 4), header.begin());
  header[1] = static_cast<uint8_t>((header[1] & ~LayerBits) | Layer3Bits);
  TMPEGHeader fields{};
  const int32_t length = DecoderParseHeader(header.data(), 0, fields);
  if (fields.BitrateIndex == 0) return s.FrameLength + fields.PaddingBit;
  return length > 0 ? length + fields.PaddingBit : length;
}

// Joins a frame's main data to the reservoir: compaction, the range check and the append of
// `count` bytes, of which the first `present` are in the frame's readable bytes and the rest read
// as zeros. False when the frame's main data do not fit.
bool AppendMainData(Reservoir& reservoir, const uint8_t* data, int32_t count, int32_t present,
                    int32_t mainDataBegin) {
  reservoir.Start = reservoir.Fill - mainDataBegin;
  if (reservoir.Fill > ReservoirCompactThreshold) {
    std::memmove(reservoir.Bytes.data(), reservoir.Bytes.data() + reservoir.Start,
                 static_cast<size_t>(mainDataBegin));
    reservoir.Start = 0;
    reservoir.Fill = mainDataBegin;
  }
  if (count < 0 || count > ReservoirSize - reservoir.Fill) return false;
  uint8_t* dest = reservoir.Bytes.data() + reservoir.Fill;
  const int32_t copied = std::clamp(present, 0, count);
  if (copied > 0) std::memcpy(dest, data, static_cast<size_t>(copied));
  std::memset(dest + copied, 0, static_cast<size_t>(count - copied));
  reservoir.Fill += count;
  return true;
}

// The steps both drivers share once the sync is known; false when the frame is not decoded.
bool DecodeFrame(Layer3State& s, const uint8_t* frame, uint32_t available, int16_t* pcm, bool mpeg1,
                 int32_t& consumed) {
  const auto readable = static_cast<int32_t>(std::min<uint32_t>(available, 1u << 20));
  BitReader& r = s.Reader;
  const int32_t total = FrameLengthOf(s, frame, readable);
  if (total <= 0) return false;

  // The side information is read within the frame's readable bytes.
  r.StartAt(frame, frame + std::min(readable, total));
  r.Read(12);
  const int32_t sideInfoSize =
      ReadSideInfo(r, mpeg1, s.MixDownGainOffset, s.GranuleSlot, s.Side, s.Granules);
  const int32_t mainDataOffset = sideInfoSize + s.Side.CrcBytes;
  const int32_t count = total - mainDataOffset;
  const int32_t present = std::min(readable, total) - mainDataOffset;
  if (!AppendMainData(s.MainData, frame + std::min(mainDataOffset, readable), count, present,
                      s.Side.MainDataBegin)) {
    return false;
  }
  consumed = total;
  if (s.MainData.Start < 0) {
    std::memset(pcm, s.SilenceValue, static_cast<size_t>(s.PcmBytesPerFrame));
    return true;
  }
  s.MainDataBitPosition = s.MainData.Start * 8;
  if (mpeg1) {
    GranuleDecode(s, pcm, 0);
    GranuleDecode(s, pcm + s.SecondGranuleOffset, 1);
  } else {
    GranuleDecode(s, pcm, s.GranuleSlot);
  }
  return true;
}

uint32_t ReadSync(BitReader& r, const uint8_t* frame, uint32_t available) {
  r.StartAt(frame, frame + std::min<uint32_t>(available, 2));
  return r.Read(12);
}

}  // namespace

int32_t ReadSideInfo(BitReader& r, bool mpeg1, int32_t mixDownGainOffset, int32_t slot,
                     FrameSideInfo& side, std::array<std::array<GranuleInfo, 2>, 2>& granules) {
  side.Version = static_cast<int32_t>(r.Read(1));
  r.Read(2);  // layer
  const bool protectedByCrc = r.Read(1) == 0;
  side.BitrateIndex = static_cast<int32_t>(r.Read(4));
  side.SamplingIndex = static_cast<int32_t>(r.Read(2));
  side.Padding = static_cast<int32_t>(r.Read(1));
  r.Read(1);  // private
  side.Mode = static_cast<int32_t>(r.Read(2));
  side.ModeExtension = static_cast<int32_t>(r.Read(2));
  if (side.Mode != JointStereo) side.ModeExtension = 0;
  side.MidSide = (side.ModeExtension & 2) != 0;
  side.Intensity = (side.ModeExtension & 1) != 0;
  r.Read(4);  // flag bits, emphasis
  side.CrcBytes = protectedByCrc ? 2 : 0;
  if (protectedByCrc) r.Read(16);  // never verified

  side.Channels = side.Mode == SingleChannel ? 1 : 2;
  const bool mono = side.Channels == 1;
  side.MainDataBegin = static_cast<int32_t>(r.Read(mpeg1 ? 9 : 8));
  r.Read(mpeg1 ? (mono ? 5 : 3) : (mono ? 1 : 2));  // private bits
  side.Scfsi = {0, 0};
  if (mpeg1) {
    for (int32_t c = 0; c < side.Channels; ++c) side.Scfsi[c] = static_cast<int32_t>(r.Read(4));
  }
  const int32_t gainOffset = mixDownGainOffset - (side.MidSide ? 2 : 0);
  const int32_t first = mpeg1 ? 0 : slot;
  const int32_t last = mpeg1 ? 1 : slot;
  for (int32_t g = first; g <= last; ++g) {
    for (int32_t c = 0; c < side.Channels; ++c)
      ReadGranuleInfo(r, mpeg1, gainOffset, granules[g][c]);
  }
  if (mpeg1) return mono ? 21 : 36;
  return mono ? 13 : 21;
}

TDecodeResult Layer3FrameDriverMpeg1(Layer3State& s, const uint8_t* frame, uint32_t available,
                                     int16_t* pcm) {
  int32_t consumed = 0;
  if (ReadSync(s.Reader, frame, available) != Mpeg1Sync ||
      !DecodeFrame(s, frame, available, pcm, true, consumed)) {
    return {0, 0};
  }
  return {consumed, s.PcmBytesPerFrame};
}

TDecodeResult Layer3FrameDriverLsf(Layer3State& s, const uint8_t* frame, uint32_t available,
                                   int16_t* pcm) {
  int32_t consumed = 0;
  const uint32_t sync = ReadSync(s.Reader, frame, available);
  if ((sync != Mpeg1Sync && sync != Mpeg25Sync) ||
      !DecodeFrame(s, frame, available, pcm, false, consumed)) {
    return {0, 0};
  }
  // Consecutive frames alternate the two granule slots, as an MPEG-1 frame uses its two granules.
  s.GranuleSlot = 1 - s.GranuleSlot;
  return {consumed, s.PcmBytesPerFrame};
}

}  // namespace tunewell
