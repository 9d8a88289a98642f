// How a driver's monitor thread paces its report of a lost link (the YLR and Raycus QCW
// drivers).
#pragma once

#include <cstdint>

#include "host/appsys.h"
#include "host/clock.h"
#include "strings/messages.h"

namespace nclaser {

// After a failed link check: shows the lost-link message (prominent) once the wait since
// SinceMs is over. The short start-up wait (StartDays) holds until it has produced the first
// report, so a link that is down from the start is reported within the first second; from
// then on the long interval (IntervalDays) holds. Waits are in days, as configured.
inline void ReportLinkLoss(double& SinceMs, std::int32_t& StartTag, double StartDays,
                           double IntervalDays) {
  const double W = StartTag == 0 ? StartDays : IntervalDays;
  if (ElapsedMs(SinceMs) > 86400.0 * W) {
    SinceMs = NowMs();
    StartTag = 1;
    ShowMsgType(SLaserConnectedFail.Get(), mtProminent);
  }
}

} // namespace nclaser
