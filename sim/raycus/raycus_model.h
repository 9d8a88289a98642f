// The state models of simulated Raycus lasers, without any transport.
//
// TRayQCWModel answers the QCW frames: the status query with its 32-byte head and 13 state
// bytes per module, the mode query with a leading mode byte, the pulse parameters, laser
// on/off and the mode reset with a one-byte result. Its own faults: module state bytes, a
// wrong check word on every answer, status answers shorter than their module count needs.
//
// TRaycusCWModel follows the continuous-wave ESC commands (emission, pulse parameters,
// diode current) and answers each with a short text beginning "TS".
//
// The link faults (silence, split and joined answers, an unplugged port) belong to the
// endpoint.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

class TRayQCWModel : public TSimModel {
public:
  // Model: the text the laser reports ("QCW150", "QCW450"); Modules: its module count.
  explicit TRayQCWModel(std::string Model = "RFL-QCW150", int Modules = 2);

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  // The status answer's data as the laser would send it now.
  TBytes StatusData() const;

  // State byte Index (0..12) of module Module (0-based); 0 clears it.
  void SetModuleState(int Module, int Index, std::uint8_t Value);
  void ClearModuleStates();
  void SetBadCheckWord(bool On) { FBadCheck = On; }
  void SetShortStatus(bool On) { FShort = On; }
  // The mode byte the laser puts before its answer to the mode query.
  void SetReportedMode(std::uint8_t Mode) { FReportedMode = Mode; }

  bool LaserOn() const { return FLaserOn; }
  int ModeResets() const { return FModeResets; }
  // The last 0xE2 data (mode, power, frequency, ratio, pulse width); empty before any.
  const TBytes& PulseData() const { return FPulse; }
  int BadRequests() const { return FBad; }

private:
  TBytes Answer(std::uint8_t Code, const TBytes& Data) const;

  std::string FModel;
  TBytes FStates;
  bool FLaserOn = false;
  int FModeResets = 0;
  TBytes FPulse;
  std::uint8_t FReportedMode = 2;
  bool FBadCheck = false;
  bool FShort = false;
  int FBad = 0;
};

class TRaycusCWModel : public TSimModel {
public:
  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  bool Emission() const { return FEmission; }
  // The last diode current received, percent; nullopt before any.
  std::optional<int> DiodeCurrent() const { return FCurrent; }
  int Freq() const { return FFreq; }
  int Ratio() const { return FRatio; }
  int Power() const { return FPower; }
  // Answers carry this text after "TS" (the default names the command).
  void SetAnswer(std::optional<std::string> Text) { FAnswer = std::move(Text); }

private:
  bool FEmission = false;
  std::optional<int> FCurrent;
  int FFreq = 0;
  int FRatio = 0;
  int FPower = 0;
  std::optional<std::string> FAnswer;
};

} // namespace nclaser::sim
