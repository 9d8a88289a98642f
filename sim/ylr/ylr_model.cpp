#include "sim/ylr/ylr_model.h"

#include "host/format1033.h"
#include "protocols/ylr.h"

namespace nclaser::sim {

namespace {

// "SDC 45" -> ("SDC", "45").
void SplitCmd(const std::string& Cmd, std::string& Mnemonic, std::string& Arg) {
  const std::size_t Sp = Cmd.find(' ');
  Mnemonic = Cmd.substr(0, Sp);
  Arg = Sp == std::string::npos ? std::string() : Cmd.substr(Sp + 1);
}

} // namespace

std::string TYLRModel::Feed(std::string_view Bytes) {
  FInBuf.append(Bytes);
  std::string Out;
  std::size_t Pos = 0;
  for (;;) {
    const std::size_t Cr = FInBuf.find(ylr::CR, Pos);
    if (Cr == std::string::npos) {
      break;
    }
    const std::string Cmd = FInBuf.substr(Pos, Cr - Pos);
    Pos = Cr + 1;
    FCommands.push_back(Cmd);
    const std::string A = Answer(Cmd);
    if (!FSilent) {
      Out += A;
    }
  }
  FInBuf.erase(0, Pos);
  return Out;
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
