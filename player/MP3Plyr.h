#pragma once
// The playback component and its parts.

#include <cstdint>

#include "decoder/MP3decdr.h"
#include "player/MP3Trds.h"
#include "player/MPLoopThread.h"
#include "player/MPSoundOut.h"
#include "stream/MPStreamReader.h"

namespace tunewell {

// No end of the audio was given.
constexpr int32_t UnboundedAudioSize = INT32_MAX;

enum class TVbrHeaderKind { None, Xing, Vbri };
// Which variable-bit-rate header a first frame carries; `inView` bytes of the frame are readable.
TVbrHeaderKind FindVbrHeader(const uint8_t* frame, int32_t inView, const TMPEGHeader& first);

// Looks for a Xing or VBRI header in the first frame, which stands whole at the reader's
// Current. When one is there, the frame is skipped and taken off the audio range, and a byte
// count it carries replaces audioSize. False when the header frame cannot be skipped.
bool ReadVbrHeader(TMPStreamReader& reader, const TMPEGHeader& first, int32_t& pendingFrameLength,
                   int32_t& audioStart, int32_t& audioSize);

}  // namespace tunewell
