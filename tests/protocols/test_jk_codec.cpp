#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "protocols/jk.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t Crc(const Bytes& B) {
  return CalcCRC16(B.data(), static_cast<int>(B.size()));
}

TEST(JKCrc, IsX25WithItsCheckValue) {
  const char* Check = "123456789";
  EXPECT_EQ(CalcCRC16(reinterpret_cast<const std::uint8_t*>(Check), 9), 0x906E);
  EXPECT_EQ(Crc({0x01, 0x03}), 0x2404);
  EXPECT_EQ(Crc({0x01, 0x01}), 0x0716);
  EXPECT_EQ(Crc({0x01, 0x00}), 0x169F);
  EXPECT_EQ(Crc({0x05, 0x01}), 0x6076);
}

TEST(JKCrc, EmptyOrNegativeCountGivesZero) {
  const std::uint8_t B[] = {0x12};
  EXPECT_EQ(CalcCRC16(B, 0), 0x0000);
  EXPECT_EQ(CalcCRC16(B, -4), 0x0000);
  EXPECT_EQ(CalcCRC16(nullptr, 5), 0x0000);
}

TEST(JKCrc, MatchesTheBitwiseDefinitionOnEveryByteValue) {
  // The table is checked against the plain reflected shift register.
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
    ASSERT_EQ(Crc(B), BitWise(B)) << "length " << B.size();
  }
}

TEST(JKFrame, WrapsDataWithAddressCrcAndFlags) {
  EXPECT_EQ(jk::BuildFrame(5, Bytes{0x01}), (Bytes{0x7E, 0x05, 0x01, 0x76, 0x60, 0x7E}));
  const Bytes Status(jk::StatusRequestFrame.begin(), jk::StatusRequestFrame.end());
  EXPECT_EQ(jk::BuildFrame(1, Bytes{0x03}), Status);
  EXPECT_EQ(Status, (Bytes{0x7E, 0x01, 0x03, 0x04, 0x24, 0x7E}));
  EXPECT_EQ(jk::BuildFrame(1, Bytes{0x01}),
            Bytes(jk::ClosingFrame1.begin(), jk::ClosingFrame1.end()));
  EXPECT_EQ(jk::BuildFrame(1, Bytes{0x00}),
            Bytes(jk::ClosingFrame2.begin(), jk::ClosingFrame2.end()));
  EXPECT_EQ(Bytes(jk::ClosingFrame1.begin(), jk::ClosingFrame1.end()),
            (Bytes{0x7E, 0x01, 0x01, 0x16, 0x07, 0x7E}));
  EXPECT_EQ(Bytes(jk::ClosingFrame2.begin(), jk::ClosingFrame2.end()),
            (Bytes{0x7E, 0x01, 0x00, 0x9F, 0x16, 0x7E}));
}

TEST(JKFrame, NothingIsEscaped) {
  const Bytes F = jk::BuildFrame(0x7E, Bytes{0x7E, 0x7D});
  ASSERT_EQ(F.size(), 7U);
  EXPECT_EQ(F[1], 0x7E);
  EXPECT_EQ(F[2], 0x7E);
  EXPECT_EQ(F[3], 0x7D);
  const std::uint16_t C = Crc({0x7E, 0x7E, 0x7D});
  EXPECT_EQ(F[4], C & 0xFF);
  EXPECT_EQ(F[5], C >> 8);
}

TEST(JKData, DiodeSetPointIsTenthsBigEndianHalvesToEven) {
  EXPECT_EQ(jk::DiodeSetPointData(55.5), (Bytes{0x5D, 0x01, 0x05, 0x00, 0x00, 0x02, 0x2B}));
  EXPECT_EQ(jk::DiodeSetPointData(100.0), (Bytes{0x5D, 0x01, 0x05, 0x00, 0x00, 0x03, 0xE8}));
  // 0.25 x 10 = 2.5 goes to 2, 0.35 x 10 = 3.5 goes to 4.
  EXPECT_EQ(jk::DiodeSetPointData(0.25).back(), 2);
  EXPECT_EQ(jk::DiodeSetPointData(0.35).back(), 4);
}

TEST(JKData, ExecuteCmdFixedIds) {
  EXPECT_EQ(*jk::ExecuteCmdData(0x1000, 0), Bytes{0x00});
  EXPECT_EQ(*jk::ExecuteCmdData(0x1001, 0), Bytes{0x01});
  EXPECT_EQ(*jk::ExecuteCmdData(0x1002, 0), Bytes{0x02});
  EXPECT_EQ(*jk::ExecuteCmdData(0x1003, 0), Bytes{0x03});
  EXPECT_EQ(*jk::ExecuteCmdData(0x1005, 0), Bytes{0x05});
  EXPECT_EQ(*jk::ExecuteCmdData(0x1010, 0.1), (Bytes{0x10, 0xFF}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x1010, 0.0), (Bytes{0x10, 0x00}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x1010, std::nan("")), (Bytes{0x10, 0x00}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x1011, 0), Bytes{0x11});
  EXPECT_EQ(*jk::ExecuteCmdData(0x1050, 0), (Bytes{0x50, 0x01, 0x01}));
  EXPECT_FALSE(jk::ExecuteCmdData(0x1004, 1));
  EXPECT_FALSE(jk::ExecuteCmdData(0x1012, 1));
  EXPECT_FALSE(jk::ExecuteCmdData(0x0F5F, 1)); // below 0x1000: not a JK id
}

TEST(JKData, FlagAndValueFamiliesInTableOrder) {
  EXPECT_EQ(*jk::ExecuteCmdData(0x5F03, 1.0), (Bytes{0x5F, 0x01, 0x03, 0xFF}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x5F03, -1.0), (Bytes{0x5F, 0x01, 0x03, 0x00}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x5D07, 300.0), (Bytes{0x5D, 0x01, 0x07, 0x00, 0x00, 0x01, 0x2C}));
  // Every 0x5F.. id also fits the 0x5D mask; the flag family wins.
  EXPECT_EQ(*jk::ExecuteCmdData(0x7FAB, 1.0), (Bytes{0x5F, 0x01, 0xAB, 0xFF}));
  EXPECT_EQ(*jk::ExecuteCmdData(0xFFFF, 0.0), (Bytes{0x5F, 0x01, 0xFF, 0x00}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x7D10, 2.5), (Bytes{0x5D, 0x01, 0x10, 0, 0, 0, 2}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x5D00, -1.0), (Bytes{0x5D, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(*jk::ExecuteCmdData(0x5D01, std::nan("")), (Bytes{0x5D, 0x01, 0x01, 0, 0, 0, 0}));
  // 0x5C00 misses both masks.
  EXPECT_FALSE(jk::ExecuteCmdData(0x5C01, 1.0));
  // Fixed ids come before the families even when a mask would fit.
  EXPECT_EQ(*jk::ExecuteCmdData(0x1050, 9.0), (Bytes{0x50, 0x01, 0x01}));
}

TEST(JKData, EmissionOnSequenceOrder) {
  const auto S = jk::EmissionOnSequence();
  const std::vector<Bytes> Want{{0x05},
                                {0x01},
                                {0x02},
                                {0x5F, 0x01, 0x01, 0x00},
                                {0x5F, 0x01, 0x02, 0xFF},
                                {0x5F, 0x01, 0x06, 0xFF}};
  EXPECT_EQ(S, Want);
}

TEST(JKAnswer, TakesTheFieldsOfEachFunctionCode) {
  const Bytes Status{0x7E, 0x01, 0x03, 0x02, 0x00, 0x00, 0x7E};
  auto A = jk::DecodeAnswer(Status.data(), static_cast<int>(Status.size()));
  ASSERT_TRUE(A);
  EXPECT_EQ(A->FunctionCode, 0x03);
  EXPECT_EQ(A->LaserStatus, 2);
  EXPECT_TRUE(A->Announces());
  EXPECT_FALSE(A->AlarmCode);

  const Bytes Aim{0x7E, 0x01, 0x11, 0x00, 0xFF, 0x00, 0x00, 0x7E};
  A = jk::DecodeAnswer(Aim.data(), static_cast<int>(Aim.size()));
  ASSERT_TRUE(A);
  EXPECT_EQ(A->AimingOn, true);
  EXPECT_FALSE(A->LaserStatus);
  const Bytes AimOff{0x7E, 0x01, 0x11, 0x00, 0xFE, 0x7E};
  EXPECT_EQ(jk::DecodeAnswer(AimOff.data(), 6)->AimingOn, false);

  Bytes Params(26, 0x00);
  Params[2] = 0x50;
  Params[6] = 3;
  Params[21] = 4;
  A = jk::DecodeAnswer(Params.data(), static_cast<int>(Params.size()));
  ASSERT_TRUE(A);
  EXPECT_EQ(A->LaserStatus, 3);
  EXPECT_EQ(A->ActiveParamSet, 4);

  const Bytes Alarm{0x7E, 0x01, 0xA4, 0x00, 0x01, 0x02, 0x00, 0x00, 0x7E};
  A = jk::DecodeAnswer(Alarm.data(), static_cast<int>(Alarm.size()));
  ASSERT_TRUE(A);
  EXPECT_EQ(A->AlarmCode, 258);
  EXPECT_TRUE(A->Announces());
}

TEST(JKAnswer, AlarmWithNonZeroByte3CarriesNoCodeButStillAnnounces) {
  const Bytes Alarm{0x7E, 0x01, 0xA4, 0x01, 0x01, 0x02, 0x7E};
  const auto A = jk::DecodeAnswer(Alarm.data(), static_cast<int>(Alarm.size()));
  ASSERT_TRUE(A);
  EXPECT_FALSE(A->AlarmCode);
  EXPECT_TRUE(A->Announces());
}

TEST(JKAnswer, ShortReadsAndUnknownCodes) {
  const Bytes Three{0x7E, 0x01, 0x03};
  EXPECT_FALSE(jk::DecodeAnswer(Three.data(), 3));
  EXPECT_FALSE(jk::DecodeAnswer(Three.data(), 0));
  EXPECT_FALSE(jk::DecodeAnswer(nullptr, 10));
  // Nothing about the flags, address or CRC is checked.
  const Bytes NoFlags{0x00, 0x09, 0x03, 0x05};
  EXPECT_EQ(jk::DecodeAnswer(NoFlags.data(), 4)->LaserStatus, 5);
  const Bytes Other{0x7E, 0x01, 0x02, 0x03, 0x04, 0x7E};
  const auto A = jk::DecodeAnswer(Other.data(), 6);
  ASSERT_TRUE(A);
  EXPECT_FALSE(A->Announces());
  EXPECT_FALSE(A->LaserStatus || A->AimingOn || A->AlarmCode || A->ActiveParamSet);
}

TEST(JKAnswer, FieldsBeyondTheReadAreNotTaken) {
  Bytes Params(8, 0x00);
  Params[2] = 0x50;
  Params[6] = 2;
  auto A = jk::DecodeAnswer(Params.data(), 8);
  EXPECT_EQ(A->LaserStatus, 2);
  EXPECT_FALSE(A->ActiveParamSet);
  A = jk::DecodeAnswer(Params.data(), 6);
  EXPECT_FALSE(A->LaserStatus);
  const Bytes Alarm{0x7E, 0x01, 0xA4, 0x00, 0x05};
  EXPECT_FALSE(jk::DecodeAnswer(Alarm.data(), 5)->AlarmCode);
  const Bytes Aim{0x7E, 0x01, 0x11, 0xFF};
  EXPECT_FALSE(jk::DecodeAnswer(Aim.data(), 4)->AimingOn);
}

} // namespace
} // namespace nclaser
