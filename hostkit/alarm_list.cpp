#include "hostkit/alarm_list.h"

namespace nclaser::hostkit {

int TAlarmList::NewAlarmID(int Count) {
  std::lock_guard<std::recursive_mutex> L(FLock);
  const int ID = FNextID;
  FNextID += Count > 0 ? Count : 1;
  return ID;
}

void TAlarmList::Check(bool Active, int AlarmID, const TCreateProc& Create) {
  std::lock_guard<std::recursive_mutex> L(FLock);
  if (Active) {
    if (FAlarms.find(AlarmID) == FAlarms.end() && Create) {
      Create();
    }
  } else {
    FAlarms.erase(AlarmID);
  }
}

void TAlarmList::Add(std::unique_ptr<TNcAlarm> Alarm) {
  if (!Alarm) {
    return;
  }
  std::lock_guard<std::recursive_mutex> L(FLock);
  ++FCreated;
  const int ID = Alarm->GetAlarmID();
  FAlarms[ID] = std::move(Alarm);
}

std::vector<TAlarmView> TAlarmList::Active() {
  std::lock_guard<std::recursive_mutex> L(FLock);
  std::vector<TAlarmView> Out;
  for (auto& [ID, A] : FAlarms) {
    Out.push_back({ID, A->GetAlarmDesc(), A->GetAlarmPlcName(), A->Options().Bits()});
  }
  return Out;
}

bool TAlarmList::IsActive(int AlarmID) {
  std::lock_guard<std::recursive_mutex> L(FLock);
  return FAlarms.count(AlarmID) != 0;
}

size_t TAlarmList::Count() {
  std::lock_guard<std::recursive_mutex> L(FLock);
  return FAlarms.size();
}

int TAlarmList::CreatedCount() {
  std::lock_guard<std::recursive_mutex> L(FLock);
  return FCreated;
}

} // namespace nclaser::hostkit
