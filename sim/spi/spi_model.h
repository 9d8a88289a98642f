// The state model of a simulated SPI fiber laser, without any transport: request packets
// in, answer packets out. It speaks one of the two status layouts, chosen when it is made
// (the standard one, or the 1000 series' with its actual power), follows the commands of
// that layout and can raise alarm bits, spoil its answers' sums and cut its status
// answers short. The link faults (silence, split and joined answers, an unplugged port)
// belong to the endpoint.
//
//   sim::TSim<sim::TSPIModel> Sim(sim::TSPIModel::TLayout::SPI1000);
//   Sim.StartPty();
//   Sim.With([](sim::TSPIModel& M) { M.SetAlarmBits(0x01); });
//
// Answers: the status query (01) with the layout's status packet, the alarm and warning
// query (04) with its two bytes, every other command of the layout with a bare
// acknowledgement carrying its code. Packets with a wrong sum or of the other layout are
// not answered. Once its alarm has cleared, the laser answers the alarm and warning query
// with its status until it is asked for its status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

class TSPIModel : public TSimModel {
public:
  enum class TLayout { Standard, SPI1000 };

  explicit TSPIModel(TLayout Layout = TLayout::Standard);

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  // The status answer the model would send now (its fault settings applied).
  TBytes StatusAnswer() const;

  TLayout Layout() const { return FLayout; }
  bool Emission() const { return FEmission; }
  // The 1000 series' emission mode (16 02).
  std::uint8_t EmissionMode() const { return FMode; }
  bool Aiming() const { return FAiming; }
  // The last diode current received, percent; nullopt before any.
  std::optional<double> DiodeCurrent() const { return FCurrent; }
  std::uint8_t AlarmBits() const { return FAlarmBits; }
  // Packets received whose sum was wrong.
  int BadPackets() const { return FBadPackets; }

  // Alarm bits the laser reports. When they clear, the laser answers the alarm and warning
  // query with its status until it is asked for its status again: the standard class asks
  // only for alarms and warnings while it sees an alarm, and only a status answer clears
  // it. The status goes out as that query's answer, never unasked: the class takes a read
  // as a status answer only when the read holds that one packet, and a packet sent on a
  // timer of its own would often share a read with an answer.
  void SetAlarmBits(std::uint8_t Bits);
  void SetEmission(bool On) { FEmission = On; }
  // Full power at 100 %, watts: the 1000 series reports set point x this while emitting.
  void SetMaxPower(double Watts) { FMaxPower = Watts; }
  // Every answer carries a sum one too high.
  void SetBadChecksum(bool On) { FBadSum = On; }
  // Status answers lose the second half of their data; their length byte stays and their
  // sum matches what is sent, so only the length tells they are partial.
  void SetShortAnswers(bool On) { FShort = On; }

private:
  TBytes Packet(std::uint8_t Code, const TBytes& Data, bool IsStatus) const;
  bool Follow(std::uint8_t Code, std::span<const std::uint8_t> Data);

  TLayout FLayout;
  bool FEmission = false;
  bool FArmed = false;
  std::uint8_t FMode = 0;
  bool FAiming = false;
  std::optional<double> FCurrent;
  std::uint8_t FAlarmBits = 0;
  double FMaxPower = 1000.0;
  bool FBadSum = false;
  bool FShort = false;
  bool FReportStatus = false;
  int FBadPackets = 0;
};

} // namespace nclaser::sim
