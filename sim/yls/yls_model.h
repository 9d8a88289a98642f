// The state model of a simulated IPG YLS laser on the binary frame protocol: request
// frames in, answer frames out; no descriptor, no thread. The shared endpoint puts it on
// TCP (port 5100) and adds the link faults (split, join, drop, silence, garbage).
// Not thread-safe: the endpoint serialises calls.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocols/yls.h"
#include "sim/endpoint.h"

namespace nclaser::sim {

class TYLSModel : public TSimModel {
public:
  // Status1 bits the model keeps.
  static constexpr std::uint32_t BitPowerReady = 1U << 0;
  static constexpr std::uint32_t BitModulationCtrl = 1U << 1;
  static constexpr std::uint32_t BitGuide = 1U << 2;
  static constexpr std::uint32_t BitReady = 1U << 3;
  static constexpr std::uint32_t BitEmission = 1U << 7;
  static constexpr std::uint32_t BitRobotMode = 1U << 11;
  static constexpr std::uint32_t BitPowerSupply = 1U << 12;
  static constexpr std::uint32_t BitPowerWanted = 1U << 30;

  TYLSModel();

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  std::string Describe(std::span<const std::uint8_t> Request) const override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  // Emission starts only with the power supply on, modulation control enabled and no
  // alarm; an alarm switches it off, as on the laser.

  // ---- State ----
  std::uint32_t Status1() const;
  bool PowerSupply() const { return FPowerSupply; }
  bool Emission() const { return FEmission; }
  bool Guide() const { return FGuide; }
  bool ModulationCtrl() const { return FModulationCtrl; }
  bool AnalogCtrl() const { return FAnalogCtrl; }
  bool AccessGranted() const { return FAccessGranted; }
  std::uint16_t PumpCurrent() const { return FPumpCurrent; } // percent x 100
  // Codes of the requests handled, in order.
  const std::vector<std::uint16_t>& Codes() const { return FCodes; }
  void ClearCodes() { FCodes.clear(); }

  // ---- Faults and settings ----
  // Word: 2 Alarms1, 3 Alarms2, 4 Warnings1 (the status-word numbers).
  void SetAlarmWord(int Word, std::uint32_t Bits);
  // Every request but the access level is answered with 0xFFFA until the access level comes.
  void RequireAccessLevel() { FAccessGranted = false; }
  // The next Count answers carry a wrong CRC.
  void CorruptCrc(int Count) { FBadCrc = Count; }
  // The status answer's data size: 166, 176 or 184, or a wrong one (170).
  void SetStatusSize(std::size_t Size) { FStatusSize = Size; }
  // The identification answer's data size (100; 99 is a short record).
  void SetIDSize(std::size_t Size) { FIDSize = Size; }
  void SetRobotMode(bool On) { FRobotMode = On; }
  void SetReady(bool On) { FReady = On; }
  // The laser wants its power supply switched on (Status1 bit 30).
  void SetPowerWanted(bool On) { FPowerWanted = On; }
  void SetSerialNumber(const std::string& SN) { FSerial = SN; }

private:
  TBytes Answer(std::uint16_t Code, std::uint16_t Exec, std::span<const std::uint8_t> Data);
  TBytes StatusData() const;

  yls::TCrc16 FCrc;
  bool FPowerSupply = false;
  bool FEmission = false;
  bool FGuide = false;
  bool FModulationCtrl = false;
  bool FAnalogCtrl = true;
  bool FAccessGranted = true;
  bool FRobotMode = false;
  bool FReady = true;
  bool FPowerWanted = false;
  std::uint16_t FPumpCurrent = 0;
  std::uint32_t FOutPower = 0;
  std::uint32_t FAlarms1 = 0;
  std::uint32_t FAlarms2 = 0;
  std::uint32_t FWarnings1 = 0;
  int FBadCrc = 0;
  std::size_t FStatusSize = yls::LaserDataSize;
  std::size_t FIDSize = yls::LaserIDSize;
  std::string FSerial = "YLS-SIM-0042";
  double FStartMs = -1.0;
  double FEmissionSinceMs = -1.0;
  double FEmissionMs = 0.0;
  std::vector<std::uint16_t> FCodes;
};

} // namespace nclaser::sim
