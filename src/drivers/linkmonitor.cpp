#include "drivers/linkmonitor.h"

#include <utility>

#include "drivers/linkreport.h"
#include "host/appsys.h"
#include "host/clock.h"

namespace nclaser {

TLinkMonitor::TLinkMonitor(std::string Name, const TLaserConnCheckCfg& ConnCheck,
                           std::int32_t DelayMs)
    : FStartDays(ConnCheck.ConnCheckTimeStart), FIntervalDays(ConnCheck.ConnCheckTimeIntv),
      FName(std::move(Name)), FThreadDelay(DelayMs) {}

void TLinkMonitor::Execute() {
  SetThreadName(FName);
  OutputDebugString(FName + ".MonThread");
  FLostSince = NowMs();
  while (!Terminated()) {
    try {
      if (!Round()) {
        break;
      }
    } catch (...) {
      // A failed round is retried by the next one.
    }
  }
}

bool TLinkMonitor::Round() {
  Poll();
  if (!Pause()) {
    return false;
  }
  if (!CheckLink()) {
    ReportLinkLoss();
  }
  return true;
}

void TLinkMonitor::ReportLinkLoss() {
  nclaser::ReportLinkLoss(FLostSince, FConntStartCheckTag, FStartDays, FIntervalDays);
}

} // namespace nclaser
