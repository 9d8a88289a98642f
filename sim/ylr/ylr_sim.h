// A simulated IPG YLR laser: the YLR model on the shared endpoint, on a pseudo-terminal or a
// loopback TCP listener (port 10001), with the calls the YLR tests, demos and benchmarks
// use. It answers every command in the laser's reply form (mnemonic, colon, value, CR;
// "ERR" lines), keeps emission, aiming, diode current and a 32-bit status word consistent
// with what it was told, and records each command it received.
//
// Threads: as TSimEndpoint.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/endpoint.h"
#include "sim/ylr/ylr_model.h"

namespace nclaser::sim {

class TYLRSim : public TSim<TYLRModel> {
public:
  static constexpr int Port = TYLRModel::Port;
  static constexpr std::uint32_t BitEmission = TYLRModel::BitEmission;
  static constexpr std::uint32_t BitAiming = TYLRModel::BitAiming;
  static constexpr std::uint32_t BitOverheat = TYLRModel::BitOverheat;
  static constexpr std::uint32_t BitBackReflection = TYLRModel::BitBackReflection;
  static constexpr std::uint32_t BitPulseTooShort = TYLRModel::BitPulseTooShort;
  static constexpr std::uint32_t BitAveragePowerTooHigh = TYLRModel::BitAveragePowerTooHigh;

  using TSimEndpoint::StartTcp;
  bool StartTcp(const std::string& Address, std::string* Error = nullptr) {
    return StartTcp(Address, Port, Error);
  }

  std::uint32_t Status() {
    return With([](TYLRModel& M) { return M.Status(); });
  }
  bool Emission() {
    return With([](TYLRModel& M) { return M.Emission(); });
  }
  bool Aiming() {
    return With([](TYLRModel& M) { return M.Aiming(); });
  }
  double DiodeCurrent() {
    return With([](TYLRModel& M) { return M.DiodeCurrent(); });
  }
  void SetSerialNumber(const std::string& SN) {
    With([&](TYLRModel& M) { M.SetSerialNumber(SN); });
  }
  // Sets or clears fault bits in the status word ("RERR" clears them).
  void SetFaultBits(std::uint32_t Bits, bool On = true) {
    With([&](TYLRModel& M) { M.SetFaultBits(Bits, On); });
  }
  // Answers every command whose mnemonic is Mnemonic with "ERR: " + Text (empty Text
  // removes the rule).
  void SetErrorReply(const std::string& Mnemonic, const std::string& Text) {
    With([&](TYLRModel& M) { M.SetErrorReply(Mnemonic, Text); });
  }
  // Echoes "SDC" with this offset added (a laser that does not reach the set point).
  void SetDiodeEchoOffset(double Offset) {
    With([&](TYLRModel& M) { M.SetDiodeEchoOffset(Offset); });
  }

  // Every command received (without its CR), in order.
  std::vector<std::string> Commands() const;
  void ClearCommands() { ClearRequests(); }
  int CountCommand(const std::string& Cmd) const;
  // Waits until Cmd has been received Count times in total; false on time-out.
  bool WaitForCommand(const std::string& Cmd, int TimeoutMs, int Count = 1) const;
  void SendRaw(const std::string& Text) { TSimEndpoint::SendRaw(ToBytes(Text)); }
};

} // namespace nclaser::sim
