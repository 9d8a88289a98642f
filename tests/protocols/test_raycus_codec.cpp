#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "protocols/raycus.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class A> Bytes B(const A& Array) {
  return Bytes(Array.begin(), Array.end());
}

// Every frame and command as it goes on the line.
TEST(RaycusCodec, RequestFramesAndCommandTexts) {
  const auto E2 = raycus::LaserDataBytes(raycus::OuterModulationMode, 50, 3000, 20, 6);
  const std::pair<Bytes, Bytes> Rows[] = {
      {raycus::BuildRequest(raycus::cmdCheckStatus),
       {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xE1, 0x00, 0x01, 0xE0, 0x55, 0xAA}},
      {raycus::BuildRequest(raycus::cmdLaserOn),
       {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xE9, 0x00, 0x01, 0xE8, 0x55, 0xAA}},
      {raycus::BuildRequest(raycus::cmdLaserOff),
       {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xEA, 0x00, 0x01, 0xE9, 0x55, 0xAA}},
      {raycus::BuildRequest(raycus::cmdResetLaserMode),
       {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xED, 0x00, 0x01, 0xEC, 0x55, 0xAA}},
      {raycus::BuildRequest(raycus::cmdCheckBySuperMode),
       {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xE7, 0x00, 0x01, 0xE6, 0x55, 0xAA}},
      // Mode 4, power 50, 3000 Hz = 0B B8, ratio 20, width 6: big-endian words.
      {raycus::BuildRequest(raycus::cmdSetLaserData, E2),
       {0xAA, 0x55, 0x00, 0x0D, 0x00, 0xFF, 0xE2, 0x00, 0x04, 0x32, 0x0B, 0xB8, 0x14, 0x00, 0x06,
        0x02, 0xF4, 0x55, 0xAA}},
      // The request's check word wraps at 65536.
      {raycus::BuildRequest(0xE2, Bytes(258, 0xFF)),
       [] {
         Bytes F{0xAA, 0x55, 0x01, 0x08, 0x00, 0xFF, 0xE2, 0x00};
         F.insert(F.end(), 258, 0xFF);
         F.insert(F.end(), {0x02, 0xDF, 0x55, 0xAA}); // 0x102DF wrapped
         return F;
       }()},
      {B(raycus::EmissionOnCmd), {0x1B, 0x4F, 0x0D}},
      {B(raycus::EmissionOffCmd), {0x1B, 0x53, 0x0D}},
      {B(raycus::PulseParamsCmd(5000, 10, 100)), {0x1B, 'F', 0x13, 0x88, 'D', 10, 'P', 100, 0x0D}},
      // Low 16 bits of the frequency, low bytes of ratio and power.
      {B(raycus::PulseParamsCmd(0x12345, 0x1FF, -1)),
       {0x1B, 'F', 0x23, 0x45, 'D', 0xFF, 'P', 0xFF, 0x0D}},
      {B(raycus::DiodeCmd(42)), {0x1B, 'C', 'P', 42, 0x0D}},
  };
  for (const auto& [Got, Want] : Rows) {
    EXPECT_EQ(Got, Want) << testing::PrintToString(Want);
  }
  // The laser side finds a request behind noise and past a false header.
  const Bytes Stream = [&] {
    Bytes S{0x00, 0xAA, 0x55, 0x00, 0x02, 0x13};
    const Bytes Q = Rows[0].first;
    S.insert(S.end(), Q.begin(), Q.end());
    return S;
  }();
  EXPECT_EQ(raycus::FindFrame(Stream).Skip, 6U);
  EXPECT_EQ(raycus::FindFrame(Stream).Length, 12U);
  EXPECT_EQ(raycus::FindFrame(std::span(Stream).first(15)).Length, 0U);
  EXPECT_TRUE(raycus::CheckRequest(Rows[6].first));
  EXPECT_EQ(raycus::CwCommandLength(Rows[9].first), 9U);
}

Bytes StatusData(const char* Model, std::uint8_t Modules, Bytes States) {
  Bytes D(32, 0x00);
  for (int I = 0; Model[I] != 0 && I < 10; ++I) {
    D[I] = static_cast<std::uint8_t>(Model[I]);
  }
  D[31] = Modules;
  D.insert(D.end(), States.begin(), States.end());
  return D;
}

// What an answer decodes to: "-" when it is dropped.
std::string Decoded(const Bytes& Frame) {
  const auto A = raycus::ParseAnswer(Frame);
  if (!A) {
    return "-";
  }
  std::string Out = std::to_string(A->Code) + ":" + std::to_string(A->Data.size());
  if (A->Code == raycus::cmdCheckStatus) {
    const auto S = raycus::DecodeStatus(A->Data);
    Out += S ? " alarm " + std::to_string(raycus::AlarmIndex(S->ModuleState)) : " short";
  }
  return Out;
}

TEST(RaycusCodec, AnswersAreCheckedAndStatusDecoded) {
  Bytes TwoFaults(26, 0x00);
  TwoFaults[0] = 0x01;  // module 1, Temp1
  TwoFaults[24] = 0x02; // module 2, InterLock: the last wins
  // A one-byte answer to 0xE2, spoilt by Fn.
  const auto Spoilt = [](auto Fn) {
    Bytes F = raycus::BuildAnswer(0xE2, Bytes{0x01});
    Fn(F);
    return F;
  };
  const std::pair<Bytes, const char*> Rows[] = {
      {raycus::BuildAnswer(raycus::cmdCheckStatus, StatusData("QCW150", 2, TwoFaults)),
       "225:58 alarm 11"},
      {raycus::BuildAnswer(raycus::cmdCheckStatus, StatusData("QCW450", 1, Bytes(13, 0))),
       "225:45 alarm -1"},
      // Announces two modules, carries one: rejected, not read past its end.
      {raycus::BuildAnswer(raycus::cmdCheckStatus, StatusData("QCW150", 2, Bytes(13, 1))),
       "225:45 short"},
      {raycus::BuildAnswer(raycus::cmdCheckStatus, Bytes(31, 0)), "225:31 short"},
      {Spoilt([](Bytes&) {}), "226:1"},
      {raycus::BuildAnswer(0x77, Bytes{}), "119:0"},
      {Spoilt([](Bytes& F) { F.back() = 0x00; }), "-"},   // the footer
      {Spoilt([](Bytes& F) { ++F[F.size() - 3]; }), "-"}, // the check word
      {Spoilt([](Bytes& F) { F[3] = 0x08; }), "-"},       // the length
      {Spoilt([](Bytes& F) {
         const Bytes G = F;
         F.insert(F.end(), G.begin(), G.end());
       }),
       "-"},
      // Shorter than any frame, though header, length and footer agree.
      {{0xAA, 0x55, 0x00, 0x05, 0x55, 0xAA}, "-"},
      {{0xAA, 0x55, 0x00, 0x06, 0x55, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x55, 0xAA}, "-"},
  };
  for (const auto& [Frame, Want] : Rows) {
    EXPECT_EQ(Decoded(Frame), Want) << testing::PrintToString(Frame);
  }
  EXPECT_EQ(raycus::AlarmIndex(Bytes(12, 1)), -1); // fewer than one module's bytes
}

TEST(RaycusCodec, PulseParametersAreClampedForTheReportedModel) {
  using M = raycus::TQCWModel;
  struct TRow {
    M Model;
    int Power, Freq, Ratio, PulseW;
    int WantPower, WantFreq, WantRatio, WantPulseW;
  };
  const TRow Rows[] = {
      {M::QCW150, 100, 3000, 20, 9, 50, 3000, 20, 6}, // power x ratio kept within 1000
      {M::QCW150, 0, 6000, 0, 0, 1, 5000, 1, 1},      {M::QCW150, 150, 100, 60, 3, 20, 100, 50, 3},
      {M::QCW450, 100, 100, 5, 1, 100, 500, 10, 1},   {M::QCW450, 40, 9000, 40, 2, 33, 5000, 30, 2},
      {M::Unknown, 100, 100, 5, 2, 50, 2000, 20, 2}, // before any status: fixed 20 and 2000
  };
  for (const TRow& R : Rows) {
    const raycus::TPulse P = raycus::ClampPulse(
        R.Model, static_cast<std::uint8_t>(R.Power), static_cast<std::uint16_t>(R.Freq),
        static_cast<std::uint8_t>(R.Ratio), static_cast<std::uint16_t>(R.PulseW));
    EXPECT_EQ(P.Power, R.WantPower) << R.Power;
    EXPECT_EQ(P.Freq, R.WantFreq) << R.Freq;
    EXPECT_EQ(P.Ratio, R.WantRatio) << R.Ratio;
    EXPECT_EQ(P.PulseW, R.WantPulseW) << R.PulseW;
  }
}

} // namespace
} // namespace nclaser
