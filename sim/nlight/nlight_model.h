// A simulated NLight fiber laser: answers "get maxpower" with its maximum power and follows
// "set syson", "set enable" and "set aimingon" (set commands get no answer). Emission only
// comes on when the system has been on for WarmupMs before the enable. Model faults:
// garbled answer lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

class TNLightModel : public TSimModel {
public:
  explicit TNLightModel(double MaxPowerW = 1500.0, int WarmupMs = 2500);

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  std::string Describe(std::span<const std::uint8_t> Request) const override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  void SetMaxPower(double W) { FMaxPowerW = W; }
  void SetGarbledLines(bool On) { FGarbled = On; }
  bool SysOn() const { return FSysOnAt.has_value(); }
  bool Enabled() const { return FEnabled; }
  bool Emission() const { return FEnabled && FEmissionOk; }
  bool Aiming() const { return FAiming; }
  // Enables refused because the system was not on long enough.
  int EarlyEnables() const { return FEarly; }

private:
  double FMaxPowerW;
  int FWarmupMs;
  std::optional<double> FSysOnAt;
  bool FEnabled = false;
  bool FEmissionOk = false;
  bool FAiming = false;
  bool FGarbled = false;
  int FEarly = 0;
  std::uint32_t FSeed = 0x4E4C4954;
};

} // namespace nclaser::sim
