#include "sim/castext/castext_model.h"

#include <cstdio>
#include <stdexcept>

#include "sim/table.h"
#include "sim/textline.h"

namespace nclaser::sim {

namespace {

// Digits only, 1 to 3 of them; -1 otherwise.
int Digits(const std::string& S) {
  if (S.empty() || S.size() > 3) {
    return -1;
  }
  int V = 0;
  for (const char C : S) {
    if (C < '0' || C > '9') {
      return -1;
    }
    V = V * 10 + (C - '0');
  }
  return V;
}

std::unique_ptr<TSimModel> Make(TCmdEchoModel::TMake M, const TSimOptions& O) {
  bool Echo = M == TCmdEchoModel::TMake::CAS;
  for (const auto& [K, V] : O) {
    if (K != "echo" || (V != "on" && V != "off")) {
      throw std::invalid_argument("takes only echo on|off");
    }
    Echo = V == "on";
  }
  return std::make_unique<TCmdEchoModel>(M, Echo);
}

const bool GRegisteredCAS =
    RegisterSimFamily({"cas",
                       "CAS serial commands (recorded and echoed)",
                       true,
                       "",
                       0,
                       [](const TSimOptions& O) { return Make(TCmdEchoModel::TMake::CAS, O); },
                       "echo on|off",
                       {{"cas", "TCASLaser", eltCAS, {}, [](TLaserParams& P, const TRigLink& L) {
                           P.CfgCAS.Comm.CommPort = L.CommPort;
                         }}}});
const bool GRegisteredQingHua = RegisterSimFamily(
    {"qinghua",
     "QingHua \"w6\" channel commands (recorded)",
     true,
     "",
     0,
     [](const TSimOptions& O) { return Make(TCmdEchoModel::TMake::QingHua, O); },
     "echo on|off",
     {{"qinghua", "TQingHuaLaser", eltQingHua, {}, [](TLaserParams& P, const TRigLink& L) {
         P.CfgQingHua.Comm.CommPort = L.CommPort;
       }}}});

} // namespace

TCmdEchoModel::TCmdEchoModel(TMake Make, bool Echo) : FMake(Make), FEcho(Echo) {}

TSplit TCmdEchoModel::Split(std::span<const std::uint8_t> In) {
  return FMake == TMake::CAS ? SplitLine(In, "\r", "\n") : SplitLine(In, "\r\n");
}

TBytes TCmdEchoModel::Handle(std::span<const std::uint8_t> Request, double /*NowMs*/) {
  const std::string Line = LineText(Request);
  if (FMake == TMake::CAS) {
    if (Line == "EMIS:1" || Line == "EMIS:0") {
      FEmission = Line.back() == '1';
    } else if (Line == "GUID:1" || Line == "GUID:0") {
      FGuide = Line.back() == '1';
    } else if (Line.starts_with("SCUS:") && Digits(Line.substr(5)) >= 0) {
      FPower = Digits(Line.substr(5));
    } else if (Line != "RCUS:") {
      ++FUnknown;
    }
  } else {
    // "w6" channel blank data.
    const bool Framed = Line.size() >= 5 && Line.starts_with("w6") && Line[3] == ' ';
    const char Ch = Framed ? Line[2] : '?';
    const std::string Data = Framed ? Line.substr(4) : std::string();
    if (Ch == '0' && (Data == "1" || Data == "0")) {
      FEmission = Data == "1";
    } else if (Ch == '5' && Data == "0") {
      FModeSeen = true;
    } else if (Ch == '1' && Digits(Data) >= 0) {
      FPower = Digits(Data);
      FPowerWithoutMode += FModeSeen ? 0 : 1;
      FModeSeen = false;
    } else {
      ++FUnknown;
    }
  }
  if (!FEcho) {
    return {};
  }
  const std::string Echo(Request.begin(), Request.end());
  return FGarbled ? GarbledLine(Echo, FSeed) : ToBytes(Echo);
}

std::string TCmdEchoModel::Describe(std::span<const std::uint8_t> Request) const {
  return VisibleLine(Request);
}

TSimCommands TCmdEchoModel::Commands() {
  return {{"echo", OnOffArgs, "echo every command line back",
           [this](const std::vector<std::string>& W) {
             FEcho = OnOffArg(W, 1);
             return std::string();
           }},
          {"garble", OnOffArgs, "echo lines of junk instead",
           [this](const std::vector<std::string>& W) {
             FGarbled = OnOffArg(W, 1);
             return std::string();
           }}};
}

std::string TCmdEchoModel::StateLine() const {
  char Buf[160];
  std::snprintf(Buf, sizeof(Buf), "%s %s, %spower %s%d, unknown commands %d",
                FMake == TMake::CAS ? "emission" : "laser", FEmission ? "on" : "off",
                FMake == TMake::CAS ? (FGuide ? "guide on, " : "guide off, ") : "",
                FPower ? "" : "none ", FPower.value_or(0), FUnknown);
  return Buf;
}

} // namespace nclaser::sim
