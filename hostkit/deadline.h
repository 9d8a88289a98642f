// Time left before a deadline on the monotonic clock, as poll() takes it.
#pragma once

#include "host/clock.h"

namespace nclaser::hostkit {

// Whole milliseconds left, rounded up so a wait never ends just short of the deadline.
inline int MsLeft(double DeadlineMs) {
  const double Left = DeadlineMs - NowMs();
  return Left > 0 ? static_cast<int>(Left + 0.999) : 0;
}

} // namespace nclaser::hostkit
