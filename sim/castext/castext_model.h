// A simulated CAS or QingHua fiber laser. Both take short ASCII commands and the plug-in
// reads nothing back that matters, so one model serves both: it follows the commands into
// a small state and (CAS) echoes each command line, which the plug-in only logs.
//   CAS:     "EMIS:1", "GUID:1", "SCUS:nn", "RCUS:" ended by CR
//   QingHua: "w60 1", "w65 0", "w61 nn" ended by CR LF
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

class TCmdEchoModel : public TSimModel {
public:
  enum class TMake { CAS, QingHua };
  explicit TCmdEchoModel(TMake Make, bool Echo);

  TSplit Split(std::span<const std::uint8_t> In) override;
  TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) override;
  std::string Describe(std::span<const std::uint8_t> Request) const override;
  TSimCommands Commands() override;
  std::string StateLine() const override;

  void SetEcho(bool On) { FEcho = On; }
  // Echoes go out as lines of junk.
  void SetGarbledLines(bool On) { FGarbled = On; }

  bool Emission() const { return FEmission; } // CAS EMIS, QingHua channel 0
  bool Guide() const { return FGuide; }
  // The last power set point in percent; nullopt before any.
  std::optional<int> Power() const { return FPower; }
  // QingHua: a power frame that did not follow a channel-5 frame.
  int PowerWithoutMode() const { return FPowerWithoutMode; }
  int Unknown() const { return FUnknown; }

private:
  TMake FMake;
  bool FEcho;
  bool FGarbled = false;
  bool FEmission = false;
  bool FGuide = false;
  bool FModeSeen = false;
  std::optional<int> FPower;
  int FPowerWithoutMode = 0;
  int FUnknown = 0;
  std::uint32_t FSeed = 0x43415321;
};

} // namespace nclaser::sim
