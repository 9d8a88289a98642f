#include "host/io.h"

namespace nclaser {

TNcOutputGroup* GPOutput = nullptr;
TNcInputGroup* GPInput = nullptr;
TNcDAGroup* GPDA = nullptr;
TNcPwmPort* GLaserPwmPort = nullptr;

void TDelayRec::Delay(int Ms) {
  FUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
}

bool TDelayRec::IsBusy() const {
  return std::chrono::steady_clock::now() < FUntil;
}

} // namespace nclaser
