// Plays two seconds of a 440 Hz tone through the sound output: tw_play_tone [ALSA-DEVICE]
// (the default device when none is given).

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "player/MP3Plyr.h"

int main(int argc, char** argv) {
  using namespace tunewell;
  if (argc > 1) SetWaveMapperDevice(argv[1]);
  constexpr int kRate = 44100;
  std::vector<int16_t> pcm(2 * kRate * 2);
  for (size_t i = 0; i < pcm.size() / 2; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double fade = std::min({1.0, t * 20, (2.0 - t) * 20});  // no clicks at the ends
    const auto s = static_cast<int16_t>(8000 * fade * std::sin(2 * std::numbers::pi * 440 * t));
    pcm[2 * i] = pcm[2 * i + 1] = s;
  }
  try {
    TSoundOut out;
    out.Open();
    TMPSimpleEvent wake;
    const auto* bytes = reinterpret_cast<const char*>(pcm.data());
    const auto total = static_cast<int32_t>(pcm.size() * sizeof(int16_t));
    for (int32_t at = 0; at < total;) {
      if (out.CanWrite()) {
        at += out.Write(bytes + at, total - at);
      } else {
        wake.Reset();
        out.SetWaitEvent(&wake);
        wake.Wait(INFINITE);
      }
    }
    out.Flush();
    out.WaitDone();
    out.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tw_play_tone: %s\n", e.what());
    return 1;
  }
  return 0;
}
