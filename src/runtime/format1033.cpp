#include "runtime/format1033.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace nclaser {

namespace {

struct TDirective {
  bool Left = false;
  int Width = -1;
  int Precision = -1;
  char Conv = 0;
};

std::string Pad(std::string S, const TDirective& Dir) {
  if (Dir.Width > 0 && static_cast<int>(S.size()) < Dir.Width) {
    const std::string Fill(static_cast<size_t>(Dir.Width) - S.size(), ' ');
    S = Dir.Left ? S + Fill : Fill + S;
  }
  return S;
}

// The value's 18 significant decimal digits and its decimal exponent (value = 0.d1d2... x
// 10^Exp10), correctly rounded.
void Digits18(double V, std::string& Digits, int& Exp10) {
  char Buf[64];
  auto R = std::to_chars(Buf, Buf + sizeof(Buf), V, std::chars_format::scientific, 17);
  std::string S(Buf, R.ptr);
  // d.ddddde[+-]xx
  const auto EPos = S.find('e');
  Digits = S.substr(0, 1) + S.substr(2, EPos - 2);
  Exp10 = std::stoi(S.substr(EPos + 1)) + 1;
}

// Fixed-point text of |V| with Prec decimals, rounding half away from zero on the 18-digit
// decimal form (as the host's runtime does).
std::string FixedAbs(double V, int Prec) {
  if (V == 0.0) {
    return Prec > 0 ? "0." + std::string(static_cast<size_t>(Prec), '0') : "0";
  }
  std::string Digits;
  int Exp10 = 0;
  Digits18(V, Digits, Exp10);
  // Integer digits: positions [0, Exp10); keep Exp10 + Prec digits in all.
  const int Keep = Exp10 + Prec;
  std::string Kept;
  if (Keep < 0) {
    Kept = "";
  } else {
    std::string All = Digits;
    if (static_cast<int>(All.size()) < Keep + 1) {
      All.append(static_cast<size_t>(Keep + 1) - All.size(), '0');
    }
    Kept = All.substr(0, static_cast<size_t>(Keep));
    if (All[static_cast<size_t>(Keep)] >= '5') {
      int I = Keep - 1;
      while (I >= 0 && Kept[static_cast<size_t>(I)] == '9') {
        Kept[static_cast<size_t>(I)] = '0';
        --I;
      }
      if (I >= 0) {
        ++Kept[static_cast<size_t>(I)];
      } else {
        Kept.insert(Kept.begin(), '1');
        ++Exp10;
      }
    }
  }
  // Rebuild: integer part has Exp10 digits (or "0").
  const int TotalKeep = Exp10 + Prec;
  if (static_cast<int>(Kept.size()) < TotalKeep) {
    Kept.insert(0, static_cast<size_t>(TotalKeep) - Kept.size(), '0');
  }
  std::string IntPart;
  std::string FracPart;
  if (Exp10 > 0) {
    IntPart = Kept.substr(0, static_cast<size_t>(Exp10));
    FracPart = Kept.substr(static_cast<size_t>(Exp10));
  } else {
    IntPart = "0";
    FracPart = std::string(static_cast<size_t>(std::min(-Exp10, Prec)), '0') + Kept;
    FracPart = FracPart.substr(0, static_cast<size_t>(Prec));
  }
  if (FracPart.size() < static_cast<size_t>(Prec)) {
    FracPart.append(static_cast<size_t>(Prec) - FracPart.size(), '0');
  }
  return Prec > 0 ? IntPart + "." + FracPart : IntPart;
}

bool IsZeroText(const std::string& S) {
  return std::all_of(S.begin(), S.end(), [](char C) { return C == '0' || C == '.'; });
}

std::string FormatFloat(double V, const TDirective& Dir) {
  if (std::isnan(V)) {
    return "NAN";
  }
  if (std::isinf(V)) {
    return V > 0 ? "INF" : "-INF";
  }
  char Buf[512];
  std::string S;
  switch (Dir.Conv) {
  case 'f': {
    const int Prec = Dir.Precision < 0 ? 2 : std::min(Dir.Precision, 18);
    S = FixedAbs(std::fabs(V), Prec);
    if (std::signbit(V) && !IsZeroText(S)) {
      S.insert(S.begin(), '-');
    }
    break;
  }
  case 'e': {
    const int Prec = Dir.Precision < 0 ? 15 : std::clamp(Dir.Precision, 1, 18);
    auto R = std::to_chars(Buf, Buf + sizeof(Buf), V, std::chars_format::scientific, Prec - 1);
    S.assign(Buf, R.ptr);
    for (auto& C : S) {
      C = C == 'e' ? 'E' : C;
    }
    break;
  }
  default: { // 'g'
    S = FloatToStr1033(V);
    break;
  }
  }
  return S;
}

std::string FormatInt(const TFmtArg& A, const TDirective& Dir, bool& Ok) {
  Ok = true;
  char Buf[64];
  std::string S;
  if (Dir.Conv == 'x') {
    std::uint64_t U = 0;
    if (const auto* I = std::get_if<std::int64_t>(&A)) {
      // Negative values show their 32-bit two's complement, as a 32-bit runtime would.
      U = *I < 0 ? static_cast<std::uint32_t>(*I) : static_cast<std::uint64_t>(*I);
    } else if (const auto* P = std::get_if<std::uint64_t>(&A)) {
      U = *P;
    } else {
      Ok = false;
      return {};
    }
    auto R = std::to_chars(Buf, Buf + sizeof(Buf), U, 16);
    S.assign(Buf, R.ptr);
    std::transform(S.begin(), S.end(), S.begin(), [](char C) {
      return static_cast<char>(C >= 'a' && C <= 'f' ? C - 'a' + 'A' : C);
    });
  } else {
    if (const auto* I = std::get_if<std::int64_t>(&A)) {
      auto R = std::to_chars(Buf, Buf + sizeof(Buf), *I);
      S.assign(Buf, R.ptr);
    } else if (const auto* P = std::get_if<std::uint64_t>(&A)) {
      auto R = std::to_chars(Buf, Buf + sizeof(Buf), *P);
      S.assign(Buf, R.ptr);
    } else {
      Ok = false;
      return {};
    }
  }
  // A precision on an integer is its least number of digits.
  if (Dir.Precision > 0) {
    const bool Neg = !S.empty() && S[0] == '-';
    std::string Body = Neg ? S.substr(1) : S;
    if (static_cast<int>(Body.size()) < Dir.Precision) {
      Body.insert(0, static_cast<size_t>(Dir.Precision) - Body.size(), '0');
    }
    S = Neg ? "-" + Body : Body;
  }
  return S;
}

} // namespace

std::string Format1033V(std::string_view Format, const std::vector<TFmtArg>& Args) {
  std::string Out;
  size_t ArgIndex = 0;
  size_t I = 0;
  while (I < Format.size()) {
    const char C = Format[I];
    if (C != '%') {
      Out.push_back(C);
      ++I;
      continue;
    }
    const size_t Start = I;
    ++I;
    if (I < Format.size() && Format[I] == '%') {
      Out.push_back('%');
      ++I;
      continue;
    }
    TDirective Dir;
    if (I < Format.size() && Format[I] == '-') {
      Dir.Left = true;
      ++I;
    }
    auto ReadNum = [&](int& N) {
      if (I < Format.size() && Format[I] == '*' && ArgIndex < Args.size()) {
        if (const auto* V = std::get_if<std::int64_t>(&Args[ArgIndex])) {
          N = static_cast<int>(std::clamp<std::int64_t>(*V, 0, 4096));
        }
        ++ArgIndex;
        ++I;
        return;
      }
      int V = -1;
      while (I < Format.size() && Format[I] >= '0' && Format[I] <= '9') {
        V = (V < 0 ? 0 : V) * 10 + (Format[I] - '0');
        V = std::min(V, 4096);
        ++I;
      }
      N = V;
    };
    ReadNum(Dir.Width);
    if (I < Format.size() && Format[I] == '.') {
      ++I;
      ReadNum(Dir.Precision);
      if (Dir.Precision < 0) {
        Dir.Precision = 0;
      }
    }
    if (I >= Format.size()) {
      Out.append(Format.substr(Start));
      break;
    }
    char Conv = Format[I];
    ++I;
    if (Conv >= 'A' && Conv <= 'Z') {
      Conv = static_cast<char>(Conv - 'A' + 'a');
    }
    Dir.Conv = Conv;
    const std::string_view Directive = Format.substr(Start, I - Start);
    if (ArgIndex >= Args.size()) {
      Out.append(Directive);
      continue;
    }
    const TFmtArg& A = Args[ArgIndex++];
    std::string S;
    bool Ok = true;
    switch (Conv) {
    case 'd':
    case 'u':
    case 'x':
      S = FormatInt(A, Dir, Ok);
      break;
    case 'f':
    case 'e':
    case 'g':
    case 'n':
    case 'm':
      if (const auto* D = std::get_if<double>(&A)) {
        Dir.Conv = Conv == 'n' || Conv == 'm' ? 'f' : Conv;
        S = FormatFloat(*D, Dir);
      } else {
        Ok = false;
      }
      break;
    case 's':
      if (const auto* T = std::get_if<std::string>(&A)) {
        S = *T;
        if (Dir.Precision >= 0 && static_cast<size_t>(Dir.Precision) < S.size()) {
          S.resize(static_cast<size_t>(Dir.Precision));
        }
      } else {
        Ok = false;
      }
      break;
    default:
      Ok = false;
      break;
    }
    Out.append(Ok ? Pad(S, Dir) : std::string(Directive));
  }
  return Out;
}

std::string FloatToStr1033(double Value) {
  if (std::isnan(Value)) {
    return "NAN";
  }
  if (std::isinf(Value)) {
    return Value > 0 ? "INF" : "-INF";
  }
  if (Value == 0.0) {
    return "0";
  }
  char Buf[64];
  auto R = std::to_chars(Buf, Buf + sizeof(Buf), Value, std::chars_format::scientific, 14);
  std::string S(Buf, R.ptr);
  const bool Neg = S[0] == '-';
  if (Neg) {
    S.erase(0, 1);
  }
  const auto EPos = S.find('e');
  std::string Digits = S.substr(0, 1) + S.substr(2, EPos - 2);
  const int Exp = std::stoi(S.substr(EPos + 1)); // value = d.ddd x 10^Exp
  while (Digits.size() > 1 && Digits.back() == '0') {
    Digits.pop_back();
  }
  std::string Out;
  if (Exp >= 15 || Exp < -5) {
    Out = Digits.substr(0, 1);
    if (Digits.size() > 1) {
      Out += "." + Digits.substr(1);
    }
    Out += "E" + std::to_string(Exp);
  } else if (Exp >= 0) {
    if (static_cast<int>(Digits.size()) <= Exp + 1) {
      Out = Digits + std::string(static_cast<size_t>(Exp + 1) - Digits.size(), '0');
    } else {
      const auto IntDigits = static_cast<size_t>(Exp) + 1;
      Out = Digits.substr(0, IntDigits) + "." + Digits.substr(IntDigits);
    }
  } else {
    Out = "0." + std::string(static_cast<size_t>(-Exp - 1), '0') + Digits;
  }
  return Neg ? "-" + Out : Out;
}

bool TryStrToFloat1033(std::string_view Text, double& Value) {
  auto IsBlank = [](char C) { return C == ' ' || C == '\t'; };
  while (!Text.empty() && IsBlank(Text.front())) {
    Text.remove_prefix(1);
  }
  while (!Text.empty() && IsBlank(Text.back())) {
    Text.remove_suffix(1);
  }
  std::string S(Text);
  size_t I = 0;
  bool Neg = false;
  if (I < S.size() && (S[I] == '+' || S[I] == '-')) {
    Neg = S[I] == '-';
    ++I;
  }
  const size_t MantStart = I;
  size_t NDigits = 0;
  bool Point = false;
  while (I < S.size() && ((S[I] >= '0' && S[I] <= '9') || (S[I] == '.' && !Point))) {
    if (S[I] == '.') {
      Point = true;
    } else {
      ++NDigits;
    }
    ++I;
  }
  if (NDigits == 0) {
    return false;
  }
  if (I < S.size() && (S[I] == 'e' || S[I] == 'E')) {
    ++I;
    if (I < S.size() && (S[I] == '+' || S[I] == '-')) {
      ++I;
    }
    size_t EDigits = 0;
    while (I < S.size() && S[I] >= '0' && S[I] <= '9') {
      ++EDigits;
      ++I;
    }
    if (EDigits == 0) {
      return false;
    }
  }
  if (I != S.size()) {
    return false;
  }
  std::string Body = S.substr(MantStart);
  if (!Body.empty() && Body[0] == '.') {
    Body.insert(Body.begin(), '0');
  }
  double V = 0.0;
  auto R = std::from_chars(Body.data(), Body.data() + Body.size(), V);
  if (R.ec != std::errc() || R.ptr != Body.data() + Body.size()) {
    return false;
  }
  Value = Neg ? -V : V;
  return true;
}

} // namespace nclaser
