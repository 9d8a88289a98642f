// A simulated Mars fiber laser: the text protocol's laser side. Answers "?IMAXUSR" with
// its maximum power and "?STATUS" with its status word in the format it is set to (8 or
// 16 hex digits); follows ENABLE, PILOT_EN and OUT; set commands get no answer.
// Model faults: alarm bits in the status word, garbled answer lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

class TMarsModel : public TSimModel {
public:
  // Format 101 (8 status digits) or 102 (16); the maximum power in watts.
  explicit TMarsModel(int Format = 101, double MaxPowerW = 1000.0);

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  std::string Describe(std::span<const std::uint8_t> Request) const override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  // The status answer as the model sends it ("STATUS=08000000\r\n").
  std::string StatusAnswer() const;
  void SetFormat(int Format) { FFormat = Format == 102 ? 102 : 101; }
  int Format() const { return FFormat; }
  void SetMaxPower(double W) { FMaxPowerW = W; }
  void SetAlarmBit(int Bit, bool On);
  void SetStatusWord(std::uint64_t Word) { FStatus = Word; }
  std::uint64_t StatusWord() const { return FStatus; }
  // Every answer goes out as a line of junk.
  void SetGarbledLines(bool On) { FGarbled = On; }

  bool Emission() const { return FEmission; }
  bool Pilot() const { return FPilot; }
  // The last OUT set point, tenths of a watt.
  std::optional<std::uint32_t> OutTenths() const { return FOut; }
  std::string OperatingMode() const { return FMode; }
  std::string SetMode() const { return FSetMode; }

private:
  int FFormat;
  double FMaxPowerW;
  std::uint64_t FStatus = 0;
  bool FGarbled = false;
  bool FEmission = false;
  bool FPilot = false;
  std::optional<std::uint32_t> FOut;
  std::string FMode;
  std::string FSetMode;
  std::uint32_t FSeed = 0x4D415253;
};

} // namespace nclaser::sim
