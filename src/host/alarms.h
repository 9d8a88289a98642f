// The host's alarm list and alarm base class.
// Threads: NewAlarmID, Check and Add are called from the host's threads (UpdateAlarms,
// RegisterAlarms and laser destruction); implementations are thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/types.h"

namespace nclaser {

// The alarm's option flags: a set of up to 16, one bit per ordinal.
enum TNcAlarmOption : Byte {
  aoOption0,
  aoOption1,
  aoOption2,
  aoOption3,
  aoOption4,
  aoOption5,
  aoOption6,
  aoOption7,
  aoOption8,
  aoOption9,
  aoOption10,
  aoOption11,
  aoOption12,
  aoOption13,
  aoOption14,
  aoOption15
};

class TNcAlarmOptions {
public:
  constexpr TNcAlarmOptions() = default;
  constexpr explicit TNcAlarmOptions(std::uint16_t Bits) : FBits(Bits) {}
  constexpr void Include(TNcAlarmOption O) { FBits = static_cast<std::uint16_t>(FBits | Bit(O)); }
  constexpr void Exclude(TNcAlarmOption O) { FBits = static_cast<std::uint16_t>(FBits & ~Bit(O)); }
  constexpr bool Contains(TNcAlarmOption O) const { return (FBits & Bit(O)) != 0; }
  constexpr std::uint16_t Bits() const { return FBits; }

private:
  static constexpr std::uint16_t Bit(TNcAlarmOption O) {
    return static_cast<std::uint16_t>(1U << static_cast<unsigned>(O));
  }
  std::uint16_t FBits = 0;
};

class TNcAlarm {
public:
  explicit TNcAlarm(int AlarmID) : FAlarmID(AlarmID) {}
  TNcAlarm(const TNcAlarm&) = delete;
  TNcAlarm& operator=(const TNcAlarm&) = delete;
  virtual ~TNcAlarm() = default;

  virtual bool AllowJog() { return true; }
  virtual bool AllowMove() { return true; }
  virtual void Assign(const TNcAlarm& Source) { FOptions = Source.FOptions; }
  virtual void DoManualReset() {}
  virtual std::string GetAlarmDesc() { return {}; }
  virtual int GetAlarmHelpID() { return 0; }
  virtual bool RequireStop() { return false; }
  virtual std::string GetAlarmPlcName() { return {}; }

  int GetAlarmID() const { return FAlarmID; }
  TNcAlarmOptions& Options() { return FOptions; }
  const TNcAlarmOptions& Options() const { return FOptions; }

private:
  int FAlarmID;
  TNcAlarmOptions FOptions;
};

class TNcAlarms {
public:
  using TCreateProc = std::function<void()>;
  virtual ~TNcAlarms() = default;
  // A fresh id, unique in the list.
  virtual int NewAlarmID(int Count) = 0;
  // While Active the alarm AlarmID is shown; Create is called when the list holds none of
  // that id yet. When not Active the alarm is cleared (and freed).
  virtual void Check(bool Active, int AlarmID, const TCreateProc& Create) = 0;
  // The list takes the alarm and owns it from then on.
  virtual void Add(std::unique_ptr<TNcAlarm> Alarm) = 0;
};

extern TNcAlarms* NcAlarms;

} // namespace nclaser
