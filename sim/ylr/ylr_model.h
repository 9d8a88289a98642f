// The state model of a simulated IPG YLR laser, without any transport: commands (up to
// their CR) in, reply text out. The shared endpoint puts it on a pty or TCP.
// Not thread-safe: the endpoint serialises calls.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

class TYLRModel : public TSimModel {
public:
  static constexpr int Port = 10001; // the laser's TCP port
  // Status bits the model keeps itself.
  static constexpr std::uint32_t BitEmission = 1U << 2;
  static constexpr std::uint32_t BitAiming = 1U << 8;
  static constexpr std::uint32_t BitModulation = 1U << 12;
  static constexpr std::uint32_t BitGateMode = 1U << 16;
  // Fault bits.
  static constexpr std::uint32_t BitOverheat = 1U << 1;
  static constexpr std::uint32_t BitBackReflection = 1U << 3;
  static constexpr std::uint32_t BitPulseTooShort = 1U << 9;
  static constexpr std::uint32_t BitPowerSupplyFailure = 1U << 19;
  static constexpr std::uint32_t BitAveragePowerTooHigh = 1U << 31;

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  std::string Describe(std::span<const std::uint8_t> Request) const override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  // The reply to one command (without its CR).
  std::string Answer(const std::string& Cmd);

  std::uint32_t Status() const;
  bool Emission() const { return FEmission; }
  bool Aiming() const { return FAiming; }
  bool GateMode() const { return FGateMode; }
  bool PulseMode() const { return FPulseMode; }
  bool Modulation() const { return FModulation; }
  double DiodeCurrent() const { return FDiodeCurrent; }

  void SetSerialNumber(const std::string& SN) { FSerial = SN; }
  void SetFaultBits(std::uint32_t Bits, bool On);
  void SetErrorReply(const std::string& Mnemonic, const std::string& Text);
  void SetDiodeEchoOffset(double Offset) { FEchoOffset = Offset; }

private:
  std::uint32_t FFaults = 0;
  bool FEmission = false;
  bool FAiming = false;
  bool FModulation = true;
  bool FGateMode = false;
  bool FPulseMode = false;
  double FDiodeCurrent = 0.0;
  double FEchoOffset = 0.0;
  std::string FSerial = "PL1234567";
  std::map<std::string, std::string> FErrors;
};

} // namespace nclaser::sim
