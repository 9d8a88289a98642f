#include "protocols/ylr.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "runtime/format1033.h"
#include "strings/messages.h"

namespace nclaser::ylr {

std::string TerminateCmd(std::string_view Cmd) {
  std::string Out(Cmd);
  if (!Out.empty() && Out.back() != CR) {
    Out.push_back(CR);
  }
  return Out;
}

namespace {

// Inclusive range check that also refuses NaN.
bool InRange(double Value, double Lo, double Hi) {
  return Value >= Lo && Value <= Hi;
}

} // namespace

std::optional<std::string> CmdSetDiodeCurrent(double Percent) {
  if (!InRange(Percent, 0.0, 100.0)) {
    return std::nullopt;
  }
  return Format1033("SDC %d", static_cast<std::int64_t>(std::trunc(Percent)));
}

std::optional<std::string> CmdSetFilterWndSz(double Value) {
  if (!InRange(Value, 0.2, 5.0)) {
    return std::nullopt;
  }
  return Format1033("SFWS %.1f", Value);
}

std::optional<std::string> CmdSetPulseRate(std::int32_t Value) {
  if (Value < 1 || Value > 9999999) {
    return std::nullopt;
  }
  return Format1033("SPRR %d", Value);
}

std::optional<std::string> CmdSetPulseWidth(double Value) {
  if (!InRange(Value, 0.0, 50.0)) {
    return std::nullopt;
  }
  return Format1033("SPW %.2f", Value);
}

TSplitResult SplitResponse(std::string& Buf, std::string_view Text) {
  TSplitResult R;
  Buf.append(Text);
  const std::size_t L = Buf.size();
  std::size_t LineStart = 0;
  std::size_t Consumed = 0; // characters up to and including the last CR
  for (std::size_t I = 0; I < L; ++I) {
    if (Buf[I] == CR) {
      R.Lines.emplace_back(Buf, LineStart, I - LineStart);
      LineStart = I + 1;
      Consumed = I + 1;
    }
  }
  if (L > MaxResponseBuf) {
    R.Overflow = true;
    Buf.clear();
  } else if (Consumed == L) {
    Buf.clear();
  } else if (Consumed > 0) {
    Buf.erase(0, Consumed);
  }
  return R;
}

TLineKind ClassifyLine(std::string_view Line) {
  const auto Has = [Line](std::string_view Part) { return Line.find(Part) != Line.npos; };
  if (Has("ERR")) {
    return TLineKind::Error;
  }
  if (Has("STA")) {
    return TLineKind::Status;
  }
  if (Has("RCS") || Has("SDC")) {
    return TLineKind::DiodeCurrent;
  }
  return TLineKind::Other;
}

namespace {

// Blanks and control characters, as the runtime's Trim removes them.
bool IsTrimmed(char C) {
  return static_cast<unsigned char>(C) <= ' ';
}

std::string_view Trim(std::string_view S) {
  while (!S.empty() && IsTrimmed(S.front())) {
    S.remove_prefix(1);
  }
  while (!S.empty() && IsTrimmed(S.back())) {
    S.remove_suffix(1);
  }
  return S;
}

// The runtime's integer parser: optional blanks before, an optional sign, then decimal
// digits or hex digits after "$" or "0x".
template <class T> std::optional<T> ParseInteger(std::string_view S) {
  while (!S.empty() && S.front() == ' ') {
    S.remove_prefix(1);
  }
  bool Negative = false;
  if (!S.empty() && (S.front() == '-' || S.front() == '+')) {
    Negative = S.front() == '-';
    S.remove_prefix(1);
  }
  int Base = 10;
  if (!S.empty() && S.front() == '$') {
    Base = 16;
    S.remove_prefix(1);
  } else if (S.size() > 2 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X')) {
    Base = 16;
    S.remove_prefix(2);
  }
  if (S.empty()) {
    return std::nullopt;
  }
  // Parse the magnitude unsigned so that the most negative value fits.
  std::uint64_t Mag = 0;
  const auto [End, Ec] = std::from_chars(S.data(), S.data() + S.size(), Mag, Base);
  if (Ec != std::errc() || End != S.data() + S.size()) {
    return std::nullopt;
  }
  using U = std::make_unsigned_t<T>;
  const auto MaxPos = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
  if (Negative) {
    if (Mag > MaxPos + 1) {
      return std::nullopt;
    }
    return static_cast<T>(static_cast<U>(0) - static_cast<U>(Mag));
  }
  if (Mag > MaxPos) {
    return std::nullopt;
  }
  return static_cast<T>(Mag);
}

} // namespace

std::string ExtractParam(std::string_view Text) {
  const std::size_t Colon = Text.find(':');
  if (Colon == Text.npos) {
    return std::string(Text);
  }
  return std::string(Trim(Text.substr(Colon + 1)));
}

std::optional<std::uint32_t> ParseStatus(std::string_view Param) {
  const auto V = ParseInteger<std::int64_t>(Param);
  if (!V) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(*V) & 0xFFFFFFFFU);
}

std::optional<std::int32_t> ParseInt32(std::string_view Param) {
  return ParseInteger<std::int32_t>(Param);
}

std::string AsciiDecode(const std::uint8_t* Data, std::size_t Count) {
  std::string Out;
  Out.reserve(Count);
  for (std::size_t I = 0; I < Count; ++I) {
    Out.push_back(Data[I] > 127 ? '?' : static_cast<char>(Data[I]));
  }
  return Out;
}

std::vector<std::uint8_t> AsciiEncode(std::string_view Text) {
  std::vector<std::uint8_t> Out;
  Out.reserve(Text.size());
  for (const char C : Text) {
    const auto B = static_cast<std::uint8_t>(C);
    Out.push_back(B > 127 ? static_cast<std::uint8_t>('?') : B);
  }
  return Out;
}

std::string ShowCR(std::string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (const char C : Text) {
    if (C == CR) {
      Out += "#13";
    } else {
      Out.push_back(C);
    }
  }
  return Out;
}

bool GetStatusBit(std::uint32_t Status, std::int32_t Bit) {
  if (Status == StatusUnknown) {
    return false;
  }
  // The shift count wraps at 32, as the 32-bit shift of the original platform does.
  const auto N = static_cast<unsigned>(std::llabs(static_cast<long long>(Bit)) & 31);
  const std::uint32_t M = std::uint32_t{1} << N;
  return Bit > 0 ? (Status & M) != 0 : (Status & M) == 0;
}

bool HasAlarm(std::uint32_t Status, std::uint32_t AlarmBits) {
  return Status != StatusUnknown && (Status & AlarmBits) != 0;
}

std::vector<std::string> StatusBitTexts() {
  std::vector<std::string> T(32);
  T[1] = SIPGOverheat.Get();
  T[3] = SIPGHighBackReflectionLevel.Get();
  T[6] = SIPGModuleDisconnected.Get();
  T[9] = SIPGPulseTooShort.Get();
  T[11] = SIPGPowerSupplyOff.Get();
  T[12] = SIPGModulationDisabled.Get();
  T[16] = SIPGGateModeEnabled.Get();
  T[17] = SIPGHighPulseEnergy.Get();
  T[19] = SIPGPowerSupplyFailure.Get();
  T[23] = SIPGHighDutyCycle.Get();
  T[24] = SIPGLowTemperature.Get();
  T[25] = SIPGPowerSupplyFailure2.Get();
  T[29] = SIPGCriticalError.Get();
  T[30] = SIPGOpticalInterlockactive.Get();
  T[31] = SIPGAveragePowertooHigh.Get();
  return T;
}

std::string AlarmDescription(std::uint32_t Status) {
  const std::vector<std::string> Texts = StatusBitTexts();
  std::string Desc;
  for (unsigned Bit = 0; Bit < 32; ++Bit) {
    const bool Set = (Status & (std::uint32_t{1} << Bit)) != 0;
    if (Bit == BitModulation) {
      if (!Set) {
        Desc += Texts[Bit];
      }
    } else if (!Texts[Bit].empty() && Set) {
      Desc += Texts[Bit];
    }
  }
  return Desc.empty() ? Desc : "Laser: " + Desc;
}

} // namespace nclaser::ylr
