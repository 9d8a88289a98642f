#include "sim/nlight/nlight_model.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "sim/table.h"
#include "sim/textline.h"

namespace nclaser::sim {

namespace {

const bool GRegistered = RegisterSimFamily(
    {"nlight",
     "NLight text protocol (maximum power, system, enable, aiming)",
     true,
     "",
     0,
     [](const TSimOptions& O) {
       double Max = 1500.0;
       double Warmup = 2500;
       for (const auto& [K, V] : O) {
         if (K == "maxpower") {
           Max = ParseSimNumber(V, "maxpower");
         } else if (K == "warmup") {
           Warmup = ParseSimNumber(V, "warmup");
         } else {
           throw std::invalid_argument("nlight takes maxpower and warmup, not " + K);
         }
       }
       return std::make_unique<TNLightModel>(Max, static_cast<int>(Warmup));
     },
     "maxpower WATTS, warmup MS",
     {{"nlight", "TNLightLaser", CfgNLight, {}, [](TLaserParams& P, const TRigLink& L) {
         P.CfgNLight.Comm.CommPort = L.CommPort;
       }}}});

} // namespace

TNLightModel::TNLightModel(double MaxPowerW, int WarmupMs)
    : FMaxPowerW(MaxPowerW), FWarmupMs(WarmupMs) {}

TSplit TNLightModel::Split(std::span<const std::uint8_t> In) {
  // Commands end with a carriage return; a line feed after it is noise.
  return SplitLine(In, "\r", "\n");
}

TBytes TNLightModel::Handle(std::span<const std::uint8_t> Request, double NowMs) {
  const std::string Line = LineText(Request);
  if (Line == "get maxpower") {
    char Buf[32];
    std::snprintf(Buf, sizeof(Buf), "%.1f\r\n", FMaxPowerW);
    return FGarbled ? GarbledLine(Buf, FSeed) : ToBytes(Buf);
  }
  if (Line == "set syson 1") {
    if (!FSysOnAt) {
      FSysOnAt = NowMs;
    }
  } else if (Line == "set syson 0") {
    FSysOnAt.reset();
    FEnabled = false;
    FEmissionOk = false;
  } else if (Line == "set enable 1") {
    FEnabled = true;
    FEmissionOk = FSysOnAt && NowMs - *FSysOnAt >= FWarmupMs;
    FEarly += FEmissionOk ? 0 : 1;
  } else if (Line == "set enable 0") {
    FEnabled = false;
    FEmissionOk = false;
  } else if (Line == "set aimingon 1" || Line == "set aimingon 0") {
    FAiming = Line.back() == '1';
  }
  return {};
}

std::string TNLightModel::Describe(std::span<const std::uint8_t> Request) const {
  return VisibleLine(Request);
}

TSimCommands TNLightModel::Commands() {
  return {
      {"maxpower", "WATTS",
       "the maximum power \"get maxpower\" reports (10 or less: the laser does not count "
       "as connected)",
       [this](const std::vector<std::string>& W) {
         SetMaxPower(ParseSimNumber(W[1], "power"));
         return std::string();
       }},
      {"garble", OnOffArgs, "answer with lines of junk", [this](const std::vector<std::string>& W) {
         FGarbled = OnOffArg(W, 1);
         return std::string();
       }}};
}

std::string TNLightModel::StateLine() const {
  char Buf[160];
  std::snprintf(Buf, sizeof(Buf), "system %s, enable %s, emission %s, aiming %s, max %.1f W%s",
                SysOn() ? "on" : "off", FEnabled ? "on" : "off", Emission() ? "on" : "off",
                FAiming ? "on" : "off", FMaxPowerW, FGarbled ? ", garbling" : "");
  return Buf;
}

} // namespace nclaser::sim
