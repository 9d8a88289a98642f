// The stand-in alarm list. Alarm texts are asked from the alarm on every read.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/alarms.h"

namespace nclaser::hostkit {

struct TAlarmView {
  int ID;
  std::string Desc;
  std::string PlcName;
  std::uint16_t Options;
};

class TAlarmList : public TNcAlarms {
public:
  int NewAlarmID(int Count) override;
  void Check(bool Active, int AlarmID, const TCreateProc& Create) override;
  void Add(std::unique_ptr<TNcAlarm> Alarm) override;

  // The alarms shown now, in id order, with their texts asked now.
  std::vector<TAlarmView> Active();
  bool IsActive(int AlarmID);
  size_t Count();
  // How many alarm objects were ever handed to the list.
  int CreatedCount();

private:
  std::recursive_mutex FLock;
  std::map<int, std::unique_ptr<TNcAlarm>> FAlarms;
  int FNextID = 1000;
  int FCreated = 0;
};

} // namespace nclaser::hostkit
