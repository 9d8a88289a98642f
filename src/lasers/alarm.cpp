#include "lasers/alarm.h"

#include "lasers/laser.h"

namespace nclaser {

TNcLaserAlarm::TNcLaserAlarm(TNcLaser* ALaser, std::shared_ptr<TLaserAlarmLink> ALink)
    : TNcAlarm(ALaser->GetAlarmID()), FLaser(std::move(ALink)) {
  Options().Include(aoOption5);
  Options().Include(aoOption6);
  Options().Include(aoOption7);
}

std::string TNcLaserAlarm::GetAlarmDesc() {
  std::lock_guard<std::mutex> L(FLaser->Lock);
  return FLaser->Laser != nullptr ? FLaser->Laser->GetAlarmDesc() : std::string();
}

std::string TNcLaserAlarm::GetAlarmPlcName() {
  return "Laser";
}

} // namespace nclaser
