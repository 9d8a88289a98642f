// Monotonic time: a clock change never stretches or cuts a delay.
#pragma once

#include <chrono>

namespace nclaser {

// Milliseconds on the monotonic clock, with sub-millisecond resolution.
inline double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

inline double ElapsedMs(double StartMs) {
  return NowMs() - StartMs;
}

// The host's Sleep: pauses the calling thread.
void Sleep(int Ms);

} // namespace nclaser
