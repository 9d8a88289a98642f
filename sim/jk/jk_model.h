// The state model of a simulated JK/GSI laser, without any transport: frames in, answer
// frames out. The shared endpoint puts it on a pty.
//
// State model: 00 switches off (state 0), 05 wakes a laser that is off (state 1), 01 goes
// to standby (state 2, after ReadyDelayMs when coming from 0 or 1), 02 starts emission
// (state 3) only from standby, 10 FF/00 switches the aiming beam, 5D 01 05 sets the diode
// set point (tenths of a percent), 5D/5F 01 nn store values and flags. 03, 11, 50 and A4
// are answered; a frame with a wrong CRC is not.
//
// Not thread-safe: the endpoint serialises calls.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "sim/endpoint.h"

namespace nclaser::sim {

struct TJKSimOptions {
  std::uint8_t Address = 1; // the address answers carry
  int InitialState = 0;
  int ReadyDelayMs = 0; // standby reached this long after 01 from state 0 or 1
  int ActiveParamSet = 1;
};

class TJKModel : public TSimModel {
public:
  explicit TJKModel(TJKSimOptions Options = {});

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  TBytes Tick(double NowMs) override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  // Whether a whole frame (flags included) carries a right CRC.
  static bool CrcOk(std::span<const std::uint8_t> Frame);

  int State() const { return FState; }
  void SetState(int State) {
    FState = State;
    FReadyAt = -1;
  }
  bool AimingOn() const { return FAiming; }
  // Last 5D 01 05 value (tenths of a percent); nullopt before any.
  std::optional<std::int32_t> SetPoint() const { return FSetPoint; }
  std::optional<std::uint8_t> Flag(std::uint8_t Param) const;
  std::optional<std::int32_t> Value(std::uint8_t Param) const;
  int AlarmCode() const { return FAlarm; }
  // Answers the next status request (or an A4 request) with 0xA4 carrying Code; 0 reports
  // the alarm gone.
  void ReportAlarm(std::uint16_t Code) {
    FAlarm = Code;
    FAlarmPending = true;
  }

private:
  TBytes Frame(const TBytes& Data) const;

  TJKSimOptions FOptions;
  int FState = 0;
  double FReadyAt = -1; // when a pending standby takes effect
  bool FAiming = false;
  std::optional<std::int32_t> FSetPoint;
  std::map<std::uint8_t, std::uint8_t> FFlags;
  std::map<std::uint8_t, std::int32_t> FValues;
  int FAlarm = 0;
  bool FAlarmPending = false;
  int FActiveParamSet = 1;
};

} // namespace nclaser::sim
