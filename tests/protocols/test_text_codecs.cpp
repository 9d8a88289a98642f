// The text codecs (Mars, NLight, CAS, QingHua): every text as it goes on the line and what
// each answer reads as, a row per example.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "protocols/castext.h"
#include "protocols/mars.h"
#include "protocols/nlight.h"

namespace nclaser {
namespace {

using mars::TVersion;
using Rows = std::vector<std::pair<std::string, std::string>>; // got, want

void ExpectRows(const Rows& R) {
  for (size_t I = 0; I < R.size(); ++I) {
    EXPECT_EQ(R[I].first, R[I].second) << "row " << I;
  }
}

// Exact to the last digit: 1000 is "1000", a hair less is not.
template <class T> std::string Text(const T& X) {
  std::ostringstream S;
  S.precision(17);
  S << X;
  return S.str();
}

std::string Joined(const std::vector<int>& V) {
  std::string Out;
  for (const int X : V) {
    Out += (Out.empty() ? "" : " ") + std::to_string(X);
  }
  return Out;
}

// "PwrStr = watts", "PwrStr" when the digits are no number, "-" when it is no answer.
std::string MaxPower(const char* T) {
  const auto A = mars::ParseMaxPower(T);
  return !A.Found ? "-" : A.MaxPowerW ? A.PwrStr + " = " + Text(*A.MaxPowerW) : A.PwrStr;
}

// "format: set bits", "-" when it is no status answer.
std::string Status(const char* T, TVersion Current) {
  const auto A = mars::ParseStatus(T, Current);
  const char* V = A.Version == TVersion::Ver101   ? "101"
                  : A.Version == TVersion::Ver102 ? "102"
                                                  : "?";
  return A.Found ? V + (": " + Joined(mars::SetBits(A.Digits))) : "-";
}

std::string AlarmBitList(TVersion V) {
  std::vector<int> Bits;
  for (const auto& A : mars::AlarmBits(V)) {
    Bits.push_back(A.Bit);
  }
  return Joined(Bits);
}

TEST(MarsCodec, TextsAndAnswers) {
  std::string Start;
  for (const auto& C : mars::StartCommands()) {
    Start += C;
  }
  const double NaN = std::numeric_limits<double>::quiet_NaN();
  const TVersion N = TVersion::VerN;
  ExpectRows({{Start, "?IMAXUSR\r\nOPMD=DGC\r\nISETMODE=P\r\nENABLE=100\r\n"},
              {mars::StatusQuery(), "?STATUS\r\n"},
              {mars::MaxPowerQuery(), "?IMAXUSR\r\n"},
              {mars::EmissionOnCmd(), "ENABLE=1FF\r\n"},
              {mars::EmissionOffCmd(), "ENABLE=100\r\n"},
              {mars::PilotCmd(true), "PILOT_EN=1\r\n"},
              {mars::PilotCmd(false), "PILOT_EN=0\r\n"},
              // The power in tenths of a watt of the maximum, halves to even.
              {mars::PowerCmd(1000.0, 50.0), "OUT=138800000000\r\n"},
              {mars::PowerCmd(10.0, 100.0), "OUT=006400000000\r\n"},
              {mars::PowerCmd(1000.0, 0.5), "OUT=003200000000\r\n"},
              {mars::PowerCmd(100.0, 0.05), "OUT=000000000000\r\n"},
              {mars::PowerCmd(6553.5, 100.0), "OUT=FFFF00000000\r\n"},
              {mars::PowerCmd(1000.0, 120.0), "OUT=2EE000000000\r\n"},
              {mars::PowerCmd(6553.5, 200.0), "OUT=1FFFE00000000\r\n"}, // more digits when needed
              {mars::PowerCmd(1000.0, NaN), "OUT=000000000000\r\n"},
              {MaxPower("PMAX_CW=2710\r\n"), "2710 = 1000"},
              {MaxPower("pmax_cw=03e8\r\n"), "03e8 = 100"},
              {MaxPower("IMAXUSR: PMAX_CW=0BB8\r\n"), "0BB8 = 300"},
              {MaxPower("PMAX_CW=64"), "64 = 10"}, // the text ends sooner
              {MaxPower("PMAX_CW=27G0\r\n"), "27G0"},
              {MaxPower("PMAX_CW=27\r\n"), "27\r\n"},
              {MaxPower("PMAX_CW="), ""},
              {MaxPower("PMAX=2710\r\n"), "-"},
              {MaxPower(""), "-"},
              {Status("STATUS=08000000\r\n", N), "101: 27"},
              {Status("STATUS=0000000000000000\r\n", N), "102: "},
              {Status("STATUS=0A000000\r\n", TVersion::Ver101), "101: 25 27"},
              {Status("status=88000001\r\n", N), "101: 0 27 31"},
              {Status("STATUS=f800000000000000\r\n", N), "102: 59 60 61 62 63"},
              {Status("STATUS=0A0000Ff\r\n", N), "101: 0 1 2 3 4 5 6 7 25 27"},
              // The first answer fixes the format; the other length is still taken.
              {Status("STATUS=0000000000000001\r\n", TVersion::Ver101), "101: 0"},
              {Status("STATUS=00000001\r\n", TVersion::Ver102), "102: 0"},
              // Not status words.
              {Status("STATUS=0800000\r\n", N), "-"},
              {Status("STATUS=080000000\r\n", N), "-"},
              {Status("STATUS=08000000", N), "-"},
              {Status("OK\r\nSTATUS=08000000\r\n", N), "-"},
              {Status("STATUS=0800X000\r\n", N), "-"},
              {Status("PMAX_CW=2710\r\n", N), "-"},
              {AlarmBitList(TVersion::Ver101), "16 17 21 27 28 31"},
              {AlarmBitList(TVersion::Ver102), "27 28 53 59 60 63"},
              {AlarmBitList(N), ""}});
}

// The maximum power as read, "-" when it does not read.
std::string NLightMax(const char* T) {
  const auto V = nlight::ParseMaxPower(T);
  return V ? Text(*V) : "-";
}

TEST(NLightCodec, TextsAndMaximumPower) {
  ExpectRows({
      {nlight::MaxPowerQuery(), "get maxpower\r"},
      {nlight::SysOnCmd(true), "set syson 1\r"},
      {nlight::EnableCmd(false), "set enable 0\r"},
      {nlight::AimingCmd(true), "set aimingon 1\r"},
      {nlight::Lower("SET Enable 1\r"), "set enable 1\r"},
      {NLightMax("1500.0\r\n"), "1500"},
      {NLightMax("8\r\n"), "8"},
      {NLightMax(" 2000 \r\n"), "2000"},
      {NLightMax("1500.5\n\n"), "1500.5"},
      {NLightMax("1e3\r\n"), "1000"},
      {NLightMax("15,5\r\n"), "-"},
      {NLightMax("abc\r\n"), "-"},
      {NLightMax("\r\n"), "-"},
      {NLightMax("7"), "-"},
      {NLightMax(""), "-"},
      {NLightMax("150000"), "1500"}, // the last two characters are the line end, whatever
  });
}

TEST(CASCodec, TextsAndSetPoint) {
  ExpectRows({{cas::EmissionCmd(true), "EMIS:1\r"},
              {cas::EmissionCmd(false), "EMIS:0\r"},
              {cas::GuideCmd(true), "GUID:1\r"},
              {cas::GuideCmd(false), "GUID:0\r"},
              {cas::CurrentQuery(), "RCUS:\r"},
              {cas::CurrentCmd(5.0), "SCUS:10\r"},
              {cas::CurrentCmd(100.0), "SCUS:100\r"},
              {cas::CurrentCmd(150.0), "SCUS:100\r"},
              {cas::CurrentCmd(67.5), "SCUS:68\r"},
              {cas::CurrentCmd(66.5), "SCUS:66\r"},
              {cas::CurrentCmd(10.0), "SCUS:10\r"},
              {cas::CurrentCmd(99.4), "SCUS:99\r"},
              {cas::CurrentCmd(99.5), "SCUS:100\r"},
              {cas::CurrentCmd(300.0), "SCUS:44\r"}, // taken as a byte before the limits
              {cas::CurrentCmd(256.0), "SCUS:10\r"}});
}

TEST(QingHuaCodec, FramesAndPowerDigits) {
  const auto Frame = [](int Channel, const std::string& Data) {
    const auto B = qinghua::Frame(Channel, Data);
    return std::string(B.begin(), B.end());
  };
  ExpectRows(
      {{Frame(qinghua::chLaser, "1"), "w60 1\r\n"},
       {Frame(qinghua::chLaser, "0"), "w60 0\r\n"},
       {Frame(qinghua::chMode, "0"), "w65 0\r\n"},
       {Frame(qinghua::chPower, std::string(22, '9')), "w61 " + std::string(22, '9') + "\r\n"},
       {qinghua::PowerDigits(80.0), "80"},
       {qinghua::PowerDigits(100.0), "100"},
       {qinghua::PowerDigits(7.0), "07"},
       {qinghua::PowerDigits(0.0), "00"},
       {qinghua::PowerDigits(12.5), "12"},
       {qinghua::PowerDigits(13.5), "14"},
       {qinghua::PowerDigits(255.0), "255"},
       {qinghua::PowerDigits(256.0), "00"}});
}

} // namespace
} // namespace nclaser
