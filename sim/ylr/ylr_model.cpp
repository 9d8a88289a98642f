#include "sim/ylr/ylr_model.h"

#include <algorithm>
#include <stdexcept>

#include "params/textbuf.h"
#include "protocols/ylr.h"
#include "runtime/format1033.h"
#include "sim/table.h"

namespace nclaser::sim {

namespace {

// "SDC 45" -> ("SDC", "45").
void SplitCmd(const std::string& Cmd, std::string& Mnemonic, std::string& Arg) {
  const std::size_t Sp = Cmd.find(' ');
  Mnemonic = Cmd.substr(0, Sp);
  Arg = Sp == std::string::npos ? std::string() : Cmd.substr(Sp + 1);
}

const bool GRegistered =
    RegisterSimFamily({"ylr",
                       "IPG YLR ASCII protocol",
                       true,
                       "127.0.0.1",
                       TYLRModel::Port,
                       [](const TSimOptions& Options) -> std::unique_ptr<TSimModel> {
                         if (!Options.empty()) {
                           throw std::invalid_argument("the ylr simulator takes no options");
                         }
                         return std::make_unique<TYLRModel>();
                       },
                       "",
                       {{"ylr", "TIPG500Laser", eltIPG, {}, [](TLaserParams& P, const TRigLink& L) {
                           auto& Y = P.CfgIPG.YLR;
                           P.CfgIPG.IPGType = L.Tcp ? ltYLRNet : ltYLRComm;
                           if (L.Tcp) {
                             (void)Utf8ToTextBuf(L.TcpHost, Y.Net.TcpHost);
                             Y.Net.TcpPort = L.TcpPort;
                           } else {
                             Y.Comm.CommPort = L.CommPort;
                           }
                         }}}});

} // namespace

TSplit TYLRModel::Split(std::span<const std::uint8_t> In) {
  const auto Cr = std::find(In.begin(), In.end(), static_cast<std::uint8_t>(ylr::CR));
  return {0, Cr == In.end() ? 0 : static_cast<std::size_t>(Cr - In.begin()) + 1};
}

TBytes TYLRModel::Handle(std::span<const std::uint8_t> Request, double /*NowMs*/) {
  const std::string Cmd = ToText(Request.first(Request.size() - 1));
  return ToBytes(Answer(Cmd));
}

std::string TYLRModel::Describe(std::span<const std::uint8_t> Request) const {
  return ToText(Request.first(Request.empty() ? 0 : Request.size() - 1));
}

TSimCommands TYLRModel::Commands() {
  return {{"fault", "BIT [on|off]",
           "set or clear status bit BIT (1 overheat, 3 back reflection, 9 pulse too short, 19 "
           "power supply, 31 average power)",
           [this](const std::vector<std::string>& W) {
             const auto Bit = ParseSimBounded(W[1], 31, "fault BIT", 10);
             SetFaultBits(1U << Bit, OnOffArg(W, 2));
             return "status " + std::to_string(Status());
           }},
          {"error", "MNEMONIC [TEXT...]",
           "answer MNEMONIC with \"ERR: TEXT\" (no TEXT: normal again)",
           [this](const std::vector<std::string>& W) {
             std::string Text;
             for (std::size_t I = 2; I < W.size(); ++I) {
               Text += (I > 2 ? " " : "") + W[I];
             }
             SetErrorReply(W[1], Text);
             return std::string();
           }}};
}

std::string TYLRModel::StateLine() const {
  return "status " + std::to_string(Status()) + ", emission " + (FEmission ? "on" : "off") +
         ", aiming " + (FAiming ? "on" : "off") + ", diode current " +
         FloatToStr1033(FDiodeCurrent);
}

std::uint32_t TYLRModel::Status() const {
  std::uint32_t S = FFaults;
  S |= FEmission ? BitEmission : 0;
  S |= FAiming ? BitAiming : 0;
  S |= FModulation ? BitModulation : 0;
  S |= FGateMode ? BitGateMode : 0;
  return S;
}

void TYLRModel::SetFaultBits(std::uint32_t Bits, bool On) {
  FFaults = On ? (FFaults | Bits) : (FFaults & ~Bits);
}

void TYLRModel::SetErrorReply(const std::string& Mnemonic, const std::string& Text) {
  if (Text.empty()) {
    FErrors.erase(Mnemonic);
  } else {
    FErrors[Mnemonic] = Text;
  }
}

std::string TYLRModel::Answer(const std::string& Cmd) {
  std::string M;
  std::string Arg;
  SplitCmd(Cmd, M, Arg);
  if (M.empty()) {
    return {};
  }
  const auto Err = FErrors.find(M);
  if (Err != FErrors.end()) {
    return "ERR: " + Err->second + "\r";
  }
  const auto Echo = [&M] { return M + "\r"; };
  const auto Value = [&M](const std::string& V) { return M + ": " + V + "\r"; };
  double Num = 0.0;
  const bool HasNum = TryStrToFloat1033(Arg, Num);

  if (M == "STA") {
    return Value(std::to_string(Status()));
  }
  if (M == "EMON") {
    if ((FFaults & ylr::AlarmMaskCW) != 0) {
      return "ERR: Emission blocked by an alarm\r";
    }
    FEmission = true;
    return Echo();
  }
  if (M == "EMOFF") {
    FEmission = false;
    return Echo();
  }
  if (M == "ABN" || M == "ABF") {
    FAiming = M == "ABN";
    return Echo();
  }
  if (M == "EMOD" || M == "DMOD") {
    FModulation = M == "EMOD";
    return Echo();
  }
  if (M == "EGM" || M == "DGM") {
    FGateMode = M == "EGM";
    return Echo();
  }
  if (M == "EPM" || M == "DPM") {
    FPulseMode = M == "EPM";
    return Echo();
  }
  if (M == "DLE" || M == "ELE" || M == "DEABC" || M == "EEABC" || M == "DEC" || M == "EEC" ||
      M == "SDS") {
    return Echo();
  }
  if (M == "SDC") {
    if (!HasNum || Num < 0.0 || Num > 100.0) {
      return "ERR: Out of Range\r";
    }
    FDiodeCurrent = Num;
    return Value(FloatToStr1033(Num + FEchoOffset));
  }
  if (M == "RCS") {
    return Value(Format1033("%.1f", FDiodeCurrent + FEchoOffset));
  }
  if (M == "SFWS" || M == "SPW" || M == "SPRR") {
    return HasNum ? Value(Arg) : "ERR: Invalid Parameter\r";
  }
  if (M == "RERR") {
    FFaults = 0;
    return Echo();
  }
  if (M == "RET") {
    return Value("1234.5");
  }
  if (M == "RFWS") {
    return Value("1.0");
  }
  if (M == "RCT") {
    return Value("25.3");
  }
  if (M == "RNC") {
    return Value("10.0");
  }
  if (M == "RMEC") {
    return Value("0");
  }
  if (M == "ROP") {
    return Value(FEmission ? Format1033("%.1f", FDiodeCurrent * 10.0) : std::string("Off"));
  }
  if (M == "RSN") {
    return Value(FSerial);
  }
  if (M == "RFV") {
    return Value("YLR-SIM 1.0");
  }
  return "ERR: Unknown Command\r";
}

} // namespace nclaser::sim
