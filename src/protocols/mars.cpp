#include "protocols/mars.h"

#include <cmath>
#include <cstdio>

namespace nclaser::mars {

namespace {

char Upper(char C) {
  return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C;
}

// 1-based position of Key (upper case) in Text compared without regard to case; 0 when
// absent.
std::size_t FindNoCase(std::string_view Text, std::string_view Key) {
  if (Key.size() > Text.size()) {
    return 0;
  }
  for (std::size_t I = 0; I + Key.size() <= Text.size(); ++I) {
    std::size_t J = 0;
    while (J < Key.size() && Upper(Text[I + J]) == Key[J]) {
      ++J;
    }
    if (J == Key.size()) {
      return I + 1;
    }
  }
  return 0;
}

int HexValue(char C) {
  if (C >= '0' && C <= '9') {
    return C - '0';
  }
  if (C >= 'A' && C <= 'F') {
    return C - 'A' + 10;
  }
  if (C >= 'a' && C <= 'f') {
    return C - 'a' + 10;
  }
  return -1;
}

} // namespace

std::string SetCommand(std::string_view Key, std::string_view Value) {
  std::string S(Key);
  S += '=';
  S += Value;
  S += LineEnd;
  return S;
}

std::string Query(std::string_view Key) {
  std::string S = "?";
  S += Key;
  S += LineEnd;
  return S;
}

const std::string& MaxPowerQuery() {
  static const std::string S = Query("IMAXUSR");
  return S;
}

const std::string& StatusQuery() {
  static const std::string S = Query("STATUS");
  return S;
}

const std::string& EmissionOnCmd() {
  static const std::string S = SetCommand("ENABLE", "1FF");
  return S;
}

const std::string& EmissionOffCmd() {
  static const std::string S = SetCommand("ENABLE", "100");
  return S;
}

std::string PilotCmd(bool On) {
  return SetCommand("PILOT_EN", On ? "1" : "0");
}

const std::vector<std::string>& StartCommands() {
  // Ask for the maximum power first, then digital gate control, power set-point mode, and
  // emission held off.
  static const std::vector<std::string> S{MaxPowerQuery(), SetCommand("OPMD", "DGC"),
                                          SetCommand("ISETMODE", "P"), EmissionOffCmd()};
  return S;
}

std::int64_t PowerTenths(double MaxPowerW, double Percent) {
  const double P = MaxPowerW * Percent * 0.1;
  if (!std::isfinite(P) || std::fabs(P) > 9.0e18) {
    return 0;
  }
  return static_cast<std::int64_t>(std::nearbyint(P));
}

std::string PowerCmd(double MaxPowerW, double Percent) {
  char Buf[24];
  // A negative value goes out as its two's complement, as the laser's own tools print it.
  std::snprintf(Buf, sizeof(Buf), "%04llX",
                static_cast<unsigned long long>(PowerTenths(MaxPowerW, Percent)));
  return SetCommand("OUT", std::string(Buf) + "00000000");
}

TMaxPowerAnswer ParseMaxPower(std::string_view Text) {
  TMaxPowerAnswer A;
  constexpr std::string_view Key = "PMAX_CW=";
  const std::size_t P = FindNoCase(Text, Key);
  if (P == 0) {
    return A;
  }
  A.Found = true;
  A.PwrStr = std::string(Text.substr(P - 1 + Key.size(), 4));
  if (A.PwrStr.empty()) {
    return A;
  }
  int Value = 0;
  for (const char C : A.PwrStr) {
    const int V = HexValue(C);
    if (V < 0) {
      return A;
    }
    Value = Value * 16 + V;
  }
  A.MaxPowerW = Value * 0.1;
  return A;
}

TStatusAnswer ParseStatus(std::string_view Text, TVersion Current) {
  TStatusAnswer A;
  constexpr std::string_view Key = "STATUS=";
  const std::size_t KeyPos = FindNoCase(Text, Key);
  if (KeyPos == 0) {
    return A;
  }
  const std::size_t Cr = Text.find(LineEnd);
  const long long End = Cr == std::string_view::npos ? 0 : static_cast<long long>(Cr) + 1;
  const long long Count = End - static_cast<long long>(KeyPos) - static_cast<long long>(Key.size());
  if (Count != 8 && Count != 16) {
    return A;
  }
  const std::string_view Digits =
      Text.substr(KeyPos - 1 + Key.size(), static_cast<std::size_t>(Count));
  for (const char C : Digits) {
    const int V = HexValue(C);
    if (V < 0) {
      // Not a status word: nothing of it is taken, the format stays undecided.
      return TStatusAnswer{};
    }
    A.Digits.push_back(static_cast<std::uint8_t>(V));
  }
  A.Found = true;
  A.DigitText = std::string(Digits);
  A.Version = Current != TVersion::VerN ? Current
              : Count == 8              ? TVersion::Ver101
                                        : TVersion::Ver102;
  return A;
}

std::vector<int> SetBits(const std::vector<std::uint8_t>& Digits) {
  std::vector<int> Bits;
  const int N = static_cast<int>(Digits.size());
  for (int Bit = 0; Bit < 4 * N; ++Bit) {
    if (((Digits[static_cast<std::size_t>((4 * N - 1 - Bit) / 4)] >> (Bit % 4)) & 1) != 0) {
      Bits.push_back(Bit);
    }
  }
  return Bits;
}

const std::vector<TAlarmBit>& AlarmBits(TVersion Version) {
  static const std::vector<TAlarmBit> V101{
      {16, TAlarm::CurrentErr},   {17, TAlarm::PanelDisConnectErr},
      {21, TAlarm::InterLockErr}, {27, TAlarm::Err},
      {28, TAlarm::Warning},      {31, TAlarm::ServerTimeOut}};
  static const std::vector<TAlarmBit> V102{
      {27, TAlarm::BreakLineErr}, {28, TAlarm::CondensationErr}, {53, TAlarm::InterLockErr},
      {59, TAlarm::Err},          {60, TAlarm::Warning},         {63, TAlarm::ServerTimeOut}};
  static const std::vector<TAlarmBit> None;
  switch (Version) {
  case TVersion::Ver101:
    return V101;
  case TVersion::Ver102:
    return V102;
  default:
    return None;
  }
}

} // namespace nclaser::mars
