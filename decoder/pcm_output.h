#pragma once
// PCM output stage: windowing of one time slot over a synthesis ring, rounding, clipping and
// storing of 32 signed 16-bit samples. The members here are the portable ones.

#include <cstdint>

namespace tunewell {

// A window sum to a sample: nearest integer, halves to even, clipped to -32768 ... 32767.
int16_t ConvertSample(double sum);

// Stores sample j at out[j].
void SynthMonoPortable(const float* ring, int32_t offset, int16_t* out);
// Stores sample j at out[2j].
void SynthStereoPortable(const float* ring, int32_t offset, int16_t* out);

// pcm_output_3dnow.cpp: the members with the arithmetic of the 3DNow! code (the extended-3DNow!
// members compute the same): single-precision sums, halves rounded away from zero, saturation.
int16_t ConvertSampleThreeDNow(float sum);
void SynthMonoThreeDNow(const float* ring, int32_t offset, int16_t* out);
void SynthStereoThreeDNow(const float* ring, int32_t offset, int16_t* out);

}  // namespace tunewell
