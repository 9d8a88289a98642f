#include "sim/mars/mars_model.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "sim/table.h"
#include "sim/textline.h"

namespace nclaser::sim {

namespace {

std::string Upper(std::string S) {
  for (char& C : S) {
    if (C >= 'a' && C <= 'z') {
      C = static_cast<char>(C - 'a' + 'A');
    }
  }
  return S;
}

std::string Hex(std::uint64_t V, int Digits) {
  char Buf[24];
  std::snprintf(Buf, sizeof(Buf), "%0*llX", Digits, static_cast<unsigned long long>(V));
  return Buf;
}

int ParseInt(const std::string& S, const char* What) {
  return static_cast<int>(ParseSimInt(S, What));
}

const bool GRegistered = RegisterSimFamily(
    {"mars",
     "Mars text protocol (status in 8 or 16 hex digits, maximum power)",
     true,
     "",
     0,
     [](const TSimOptions& O) {
       int Format = 101;
       double Max = 1000.0;
       for (const auto& [K, V] : O) {
         if (K == "format") {
           Format = ParseInt(V, "format");
           if (Format != 101 && Format != 102) {
             throw std::invalid_argument("format is 101 or 102");
           }
         } else if (K == "maxpower") {
           Max = ParseSimNumber(V, "maxpower");
         } else {
           throw std::invalid_argument("mars takes format and maxpower, not " + K);
         }
       }
       return std::make_unique<TMarsModel>(Format, Max);
     },
     "format 101|102, maxpower WATTS",
     {{"mars", "TMarsLaser", eltMars, {}, [](TLaserParams& P, const TRigLink& L) {
         P.CfgMars.Comm.CommPort = L.CommPort;
       }}}});

} // namespace

TMarsModel::TMarsModel(int Format, double MaxPowerW)
    : FFormat(Format == 102 ? 102 : 101), FMaxPowerW(MaxPowerW) {}

TSplit TMarsModel::Split(std::span<const std::uint8_t> In) {
  return SplitLine(In, "\r\n");
}

std::string TMarsModel::StatusAnswer() const {
  const std::uint64_t W = FFormat == 101 ? (FStatus & 0xFFFFFFFFULL) : FStatus;
  return "STATUS=" + Hex(W, FFormat == 101 ? 8 : 16) + "\r\n";
}

void TMarsModel::SetAlarmBit(int Bit, bool On) {
  if (Bit < 0 || Bit > 63) {
    return;
  }
  const std::uint64_t M = std::uint64_t{1} << Bit;
  FStatus = On ? (FStatus | M) : (FStatus & ~M);
}

TBytes TMarsModel::Handle(std::span<const std::uint8_t> Request, double /*NowMs*/) {
  const std::string Line = Upper(LineText(Request));
  std::string Answer;
  if (Line == "?IMAXUSR") {
    const auto Tenths = static_cast<std::uint32_t>(std::lround(FMaxPowerW * 10.0)) & 0xFFFFU;
    Answer = "PMAX_CW=" + Hex(Tenths, 4) + "\r\n";
  } else if (Line == "?STATUS") {
    Answer = StatusAnswer();
  } else if (const std::size_t Eq = Line.find('='); Eq != std::string::npos) {
    const std::string Key = Line.substr(0, Eq);
    const std::string Value = Line.substr(Eq + 1);
    if (Key == "ENABLE") {
      FEmission = Value == "1FF";
    } else if (Key == "PILOT_EN") {
      FPilot = Value == "1";
    } else if (Key == "OPMD") {
      FMode = Value;
    } else if (Key == "ISETMODE") {
      FSetMode = Value;
    } else if (Key == "OUT" && Value.size() > 8) {
      // The power in hex, then eight digits the laser ignores.
      std::uint32_t V = 0;
      bool Ok = true;
      for (const char Ch : Value.substr(0, Value.size() - 8)) {
        const int D = Ch >= '0' && Ch <= '9'   ? Ch - '0'
                      : Ch >= 'A' && Ch <= 'F' ? Ch - 'A' + 10
                                               : -1;
        Ok = Ok && D >= 0;
        V = V * 16 + static_cast<std::uint32_t>(D < 0 ? 0 : D);
      }
      if (Ok) {
        FOut = V;
      }
    }
  }
  if (Answer.empty()) {
    return {};
  }
  return FGarbled ? GarbledLine(Answer, FSeed) : ToBytes(Answer);
}

std::string TMarsModel::Describe(std::span<const std::uint8_t> Request) const {
  return VisibleLine(Request);
}

TSimCommands TMarsModel::Commands() {
  const auto Done = [](auto Fn) {
    return [Fn](const std::vector<std::string>& W) {
      Fn(W);
      return std::string();
    };
  };
  using TWords = const std::vector<std::string>&;
  return {
      {"alarm", "BIT [on|off]", "set (or clear) status bit BIT (27: fault, 31: service due)",
       [this](TWords W) {
         SetAlarmBit(static_cast<int>(ParseSimBounded(W[1], 63, "alarm BIT")), OnOffArg(W, 2));
         return StatusAnswer().substr(0, StatusAnswer().size() - 2);
       }},
      {"clear", "", "clear every status bit",
       [this](TWords) {
         FStatus = 0;
         return std::string("status cleared");
       }},
      {"format", "101|102", "status in 8 or 16 hex digits", Done([this](TWords W) {
         if (W[1] != "101" && W[1] != "102") {
           throw std::invalid_argument("usage: format 101|102");
         }
         SetFormat(ParseInt(W[1], "format"));
       })},
      {"maxpower", "WATTS", "the maximum power ?IMAXUSR reports",
       Done([this](TWords W) { SetMaxPower(ParseSimNumber(W[1], "power")); })},
      {"garble", OnOffArgs, "answer with lines of junk",
       Done([this](TWords W) { FGarbled = OnOffArg(W, 1); })},
  };
}

std::string TMarsModel::StateLine() const {
  char Out[32] = "none";
  if (FOut) {
    std::snprintf(Out, sizeof(Out), "%.1f W", *FOut / 10.0);
  }
  char Buf[200];
  std::snprintf(Buf, sizeof(Buf), "emission %s, pilot %s, out %s, %s, max %.1f W%s",
                FEmission ? "on" : "off", FPilot ? "on" : "off", Out,
                LineText(ToBytes(StatusAnswer())).c_str(), FMaxPowerW,
                FGarbled ? ", garbling" : "");
  return Buf;
}

} // namespace nclaser::sim
