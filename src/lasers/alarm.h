// TNcLaserAlarm: the one alarm of a laser in the host's alarm list; its text is asked from
// the laser on every read.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "host/alarms.h"

namespace nclaser {

class TNcLaser;

// The alarm's way to its laser: cleared by the laser's Destroy, after which the alarm
// answers with an empty text instead of reaching a destroyed object.
struct TLaserAlarmLink {
  std::mutex Lock;
  TNcLaser* Laser = nullptr;
};

class TNcLaserAlarm : public TNcAlarm {
public:
  TNcLaserAlarm(TNcLaser* ALaser, std::shared_ptr<TLaserAlarmLink> ALink);
  std::string GetAlarmDesc() override;
  std::string GetAlarmPlcName() override;

private:
  std::shared_ptr<TLaserAlarmLink> FLaser;
};

} // namespace nclaser
