// The monitor loop of every driver with a link of its own (YLR, YLS, Raycus QCW): name the
// thread, then round after round until terminated, each round guarded so that a failure
// only costs that round. The make supplies the round; the usual one is its poll, the
// pause, and a link check whose failure is reported at the configured pace.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "params/params.h"
#include "runtime/thread.h"

namespace nclaser {

class TLinkMonitor : public TThread {
public:
  void SetThreadDelay(std::int32_t Ms) { FThreadDelay = Ms; }
  std::int32_t GetThreadDelay() const { return FThreadDelay; }

protected:
  // Name is the thread's name; its debugger line is Name followed by ".MonThread".
  TLinkMonitor(std::string Name, const TLaserConnCheckCfg& ConnCheck, std::int32_t DelayMs);

  void Execute() final;
  // One round; false ends the thread. This one: Poll, the pause, and CheckLink, whose
  // failure is reported through ReportLinkLoss.
  virtual bool Round();
  virtual void Poll() = 0;
  virtual bool CheckLink() = 0;

  // The pause between polls; false when the thread was asked to end meanwhile.
  bool Pause() { return SleepA(FThreadDelay); }
  // The shared pacing of the lost-link message (drivers/linkreport.h).
  void ReportLinkLoss();

  double FLostSince = 0.0;              // the last lost-link message, or the thread's start
  std::int32_t FConntStartCheckTag = 0; // 1 once the start-up wait has been used
  const double FStartDays;
  const double FIntervalDays;

private:
  const std::string FName;
  std::atomic<std::int32_t> FThreadDelay;
};

} // namespace nclaser
