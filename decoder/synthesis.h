#pragma once
// Polyphase synthesis filterbank: time slots of 32 subband samples to 16-bit PCM.
//
// How a caller feeds it: an open calls ResetSynthesis and stores one of the drivers below in
// TheDecoder.Routines.SynthesisDriver. The Layer III channel drivers then call that slot once
// per granule and output channel with the 576-value HybridOutput (time-major: entry 32t + s is
// subband s of time slot t), the granule's output position and the channel index; the Layer III
// stereo driver writes 18 x 32 samples into every second word starting at out[channel], so
// calling it for channel 0 and then channel 1 with the same `out` fills 18 x 64 words. The
// mono driver writes 18 x 32 contiguous samples. Subband samples are scaled so that the windowed
// sums come out in 16-bit units (full scale 32768).

#include <cstdint>

#include "decoder/decoder_state.h"

namespace tunewell {

// Builds the cosine and window tables the first time; zeroes both rings and offsets.
void ResetSynthesis();
// Builds the synthesis tables unless built (the polarity switch needs the window).
void EnsureSynthesisTables();

// One time slot's matrixing into the ring slot at `dest` (32 values).
void MatrixSlot(const float* values, float* dest);             // 32 values, with equalizer gains
void MatrixSlotInterleaved(const float* values, float* dest);  // every second value, with gains
void MatrixSlotMixDown(const float* values, float* dest);      // average of a pair, no gains

// 32-point cosine transform X[m] = sum_k S[k] cos(pi m (2k + 1) / 64), through Lee's
// factorisation with the synthesis cosine table.
void Matrix32(const float* in, float* out);

// Drivers of Layers I and II; `rows` is the number of time slots (12 or 36). The samples are
// rows of 32 values for a single-channel stream, else rows of 64 interleaved values.
void SynthesizeLayer12Mono(const float* samples, int16_t* out, int32_t rows);
void SynthesizeLayer12Stereo(const float* samples, int16_t* out, int32_t rows);
void SynthesizeLayer12MixDown(const float* samples, int16_t* out, int32_t rows);
void SynthesizeLayer12Left(const float* samples, int16_t* out, int32_t rows);
void SynthesizeLayer12Right(const float* samples, int16_t* out, int32_t rows);

// Drivers of Layer III: 18 time slots of HybridOutput; the third argument is ignored (mono) or
// the output channel (stereo).
void SynthesizeLayer3Mono(const float* hybridOutput, int16_t* out, int32_t unused);
void SynthesizeLayer3Stereo(const float* hybridOutput, int16_t* out, int32_t channel);

// The Layer I/II driver of a mode index: 0 single-channel stream, else ChannelOption + 1.
TSynthesisDriver Layer12SynthesisDriver(int32_t modeIndex);

}  // namespace tunewell
