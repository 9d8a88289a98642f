#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "protocols/jk.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;
using OptBytes = std::optional<Bytes>;

Bytes Of(const std::array<std::uint8_t, 6>& Frame) {
  return {Frame.begin(), Frame.end()};
}

// The CRC against the plain reflected shift register, every frame and data field the codec
// builds, and the fields each answer yields.
TEST(JKCodec, CrcFramesDataAndAnswers) {
  const char* Check = "123456789";
  EXPECT_EQ(CalcCRC16(reinterpret_cast<const std::uint8_t*>(Check), 9), 0x906E);
  const auto BitWise = [](const Bytes& B) {
    std::uint16_t C = 0xFFFF;
    for (const std::uint8_t X : B) {
      C ^= X;
      for (int I = 0; I < 8; ++I) {
        C = (C & 1) != 0 ? static_cast<std::uint16_t>((C >> 1) ^ 0x8408) : C >> 1;
      }
    }
    return static_cast<std::uint16_t>(~C);
  };
  Bytes B;
  for (int V = 0; V < 256; ++V) {
    B.push_back(static_cast<std::uint8_t>(V * 37 + 11));
    ASSERT_EQ(CalcCRC16(B.data(), static_cast<int>(B.size())), BitWise(B)) << B.size();
  }
  EXPECT_EQ(CalcCRC16(B.data(), 0), 0x0000);
  EXPECT_EQ(CalcCRC16(B.data(), -4), 0x0000);
  EXPECT_EQ(CalcCRC16(nullptr, 5), 0x0000);

  const double NaN = std::nan("");
  const std::uint16_t Esc = CalcCRC16(Bytes{0x7E, 0x7E, 0x7D}.data(), 3);
  const std::pair<OptBytes, OptBytes> Built[] = {
      {jk::BuildFrame(5, Bytes{0x01}), Bytes{0x7E, 0x05, 0x01, 0x76, 0x60, 0x7E}},
      {jk::BuildFrame(1, Bytes{0x03}), Of(jk::StatusRequestFrame)},
      {jk::BuildFrame(1, Bytes{0x01}), Of(jk::ClosingFrame1)},
      {jk::BuildFrame(1, Bytes{0x00}), Of(jk::ClosingFrame2)},
      // Nothing is escaped.
      {jk::BuildFrame(0x7E, Bytes{0x7E, 0x7D}),
       Bytes{0x7E, 0x7E, 0x7E, 0x7D, static_cast<std::uint8_t>(Esc & 0xFF),
             static_cast<std::uint8_t>(Esc >> 8), 0x7E}},
      // The diode set point: tenths, big-endian, halves to even.
      {jk::DiodeSetPointData(55.5), Bytes{0x5D, 0x01, 0x05, 0x00, 0x00, 0x02, 0x2B}},
      {jk::DiodeSetPointData(100.0), Bytes{0x5D, 0x01, 0x05, 0x00, 0x00, 0x03, 0xE8}},
      // ExecuteCmd: the fixed ids first, then the flag family, then the value family.
      {jk::ExecuteCmdData(0x1000, 0), Bytes{0x00}},
      {jk::ExecuteCmdData(0x1001, 0), Bytes{0x01}},
      {jk::ExecuteCmdData(0x1002, 0), Bytes{0x02}},
      {jk::ExecuteCmdData(0x1003, 0), Bytes{0x03}},
      {jk::ExecuteCmdData(0x1005, 0), Bytes{0x05}},
      {jk::ExecuteCmdData(0x1010, 0.1), Bytes{0x10, 0xFF}},
      {jk::ExecuteCmdData(0x1010, 0.0), Bytes{0x10, 0x00}},
      {jk::ExecuteCmdData(0x1010, NaN), Bytes{0x10, 0x00}},
      {jk::ExecuteCmdData(0x1011, 0), Bytes{0x11}},
      {jk::ExecuteCmdData(0x1050, 0), Bytes{0x50, 0x01, 0x01}},
      {jk::ExecuteCmdData(0x1050, 9.0), Bytes{0x50, 0x01, 0x01}},
      {jk::ExecuteCmdData(0x1004, 1), std::nullopt},
      {jk::ExecuteCmdData(0x1012, 1), std::nullopt},
      {jk::ExecuteCmdData(0x0F5F, 1), std::nullopt}, // below 0x1000: not a JK id
      {jk::ExecuteCmdData(0x5F03, 1.0), Bytes{0x5F, 0x01, 0x03, 0xFF}},
      {jk::ExecuteCmdData(0x5F03, -1.0), Bytes{0x5F, 0x01, 0x03, 0x00}},
      {jk::ExecuteCmdData(0x5D07, 300.0), Bytes{0x5D, 0x01, 0x07, 0x00, 0x00, 0x01, 0x2C}},
      // Every 0x5F.. id also fits the 0x5D mask; the flag family wins.
      {jk::ExecuteCmdData(0x7FAB, 1.0), Bytes{0x5F, 0x01, 0xAB, 0xFF}},
      {jk::ExecuteCmdData(0xFFFF, 0.0), Bytes{0x5F, 0x01, 0xFF, 0x00}},
      {jk::ExecuteCmdData(0x7D10, 2.5), Bytes{0x5D, 0x01, 0x10, 0, 0, 0, 2}},
      {jk::ExecuteCmdData(0x5D00, -1.0), Bytes{0x5D, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
      {jk::ExecuteCmdData(0x5D01, NaN), Bytes{0x5D, 0x01, 0x01, 0, 0, 0, 0}},
      {jk::ExecuteCmdData(0x5C01, 1.0), std::nullopt}, // misses both masks
  };
  for (size_t I = 0; I < std::size(Built); ++I) {
    EXPECT_EQ(Built[I].first, Built[I].second) << "row " << I;
  }

  // Each function code's fields; a field whose byte lies beyond the read stays unset;
  // flags, address and CRC are not checked. -1: unset.
  Bytes Params(26, 0x00);
  Params[2] = 0x50;
  Params[6] = 3;
  Params[21] = 4;
  const struct {
    Bytes In;
    int Count; // 0: all of In
    int Status, Aim, Alarm, ParamSet;
    bool Announces;
  } Answers[] = {
      {{0x7E, 0x01, 0x03, 0x02, 0x00, 0x00, 0x7E}, 0, 2, -1, -1, -1, true},
      {{0x00, 0x09, 0x03, 0x05}, 0, 5, -1, -1, -1, true},
      {{0x7E, 0x01, 0x11, 0x00, 0xFF, 0x00, 0x00, 0x7E}, 0, -1, 1, -1, -1, true},
      {{0x7E, 0x01, 0x11, 0x00, 0xFE, 0x7E}, 0, -1, 0, -1, -1, true},
      {{0x7E, 0x01, 0x11, 0xFF}, 0, -1, -1, -1, -1, true},
      {Params, 0, 3, -1, -1, 4, true},
      {Params, 8, 3, -1, -1, -1, true},
      {Params, 6, -1, -1, -1, -1, true},
      {{0x7E, 0x01, 0xA4, 0x00, 0x01, 0x02, 0x00, 0x00, 0x7E}, 0, -1, -1, 258, -1, true},
      {{0x7E, 0x01, 0xA4, 0x01, 0x01, 0x02, 0x7E}, 0, -1, -1, -1, -1, true}, // byte 3 not 0
      {{0x7E, 0x01, 0xA4, 0x00, 0x05}, 0, -1, -1, -1, -1, true},
      {{0x7E, 0x01, 0x02, 0x03, 0x04, 0x7E}, 0, -1, -1, -1, -1, false},
  };
  for (const auto& C : Answers) {
    SCOPED_TRACE(::testing::PrintToString(C.In) + " count " + std::to_string(C.Count));
    const auto A = jk::DecodeAnswer(C.In.data(), C.Count > 0 ? C.Count : int(C.In.size()));
    ASSERT_TRUE(A);
    EXPECT_EQ(A->LaserStatus.value_or(-1), C.Status);
    EXPECT_EQ(A->AimingOn ? int(*A->AimingOn) : -1, C.Aim);
    EXPECT_EQ(A->AlarmCode.value_or(-1), C.Alarm);
    EXPECT_EQ(A->ActiveParamSet.value_or(-1), C.ParamSet);
    EXPECT_EQ(A->Announces(), C.Announces);
  }
  const Bytes Three{0x7E, 0x01, 0x03};
  EXPECT_FALSE(jk::DecodeAnswer(Three.data(), 3));
  EXPECT_FALSE(jk::DecodeAnswer(Three.data(), 0));
  EXPECT_FALSE(jk::DecodeAnswer(nullptr, 10));
}

} // namespace
} // namespace nclaser
