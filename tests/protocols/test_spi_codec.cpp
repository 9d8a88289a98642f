#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "protocols/spi.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What a read decodes to with each layout: "-" when it is not that layout's status.
std::string Decoded(const Bytes& Read) {
  const int N = static_cast<int>(Read.size());
  std::string Out;
  if (const auto S = spi::DecodeSPIStatus(Read.data(), N)) {
    Out += "emission " + std::to_string(S->EmissionOn) + " alarm " + std::to_string(S->Alarm) +
           " aiming " + std::to_string(S->AimingOn);
  } else {
    Out += "-";
  }
  if (const auto K = spi::DecodeSPI1000Status(Read.data(), N)) {
    char P[32];
    std::snprintf(P, sizeof(P), "%.1f", K->ActualPower);
    Out += " | aiming " + std::to_string(K->AimingOn) + " alarm " + std::to_string(K->Alarm) +
           " power " + P;
  } else {
    Out += " | -";
  }
  return Out;
}

// Every command packet of both classes as the laser expects it on the line, and the status
// answers of both layouts as the thread reads them (the whole read is one packet).
TEST(SPICodec, CommandPacketsAndStatusAnswers) {
  const auto Current = [](double P) { return spi::DiodeCurrentData(P); };
  const auto C50 = Current(50.0);
  struct TRow {
    const char* Name;
    std::uint8_t Code;
    Bytes Data;
    Bytes Packet;
  };
  const TRow Rows[] = {
      {"status query", spi::cmdStatus, {}, {0x1B, 0x01, 0x01, 0x0D, 0x2A}},
      {"alarm and warning query", spi::cmdAlarmWarning, {}, {0x1B, 0x01, 0x04, 0x0D, 0x2D}},
      {"emission start", spi::cmdEmissionStart, {}, {0x1B, 0x01, 0x05, 0x0D, 0x2E}},
      {"emission on", spi::cmdEmissionOn, {0x00}, {0x1B, 0x02, 0x07, 0x00, 0x0D, 0x31}},
      {"diode 50 %",
       spi::cmdDiodeCurrent,
       {C50[0], C50[1]},
       {0x1B, 0x03, 0x0A, 0xF4, 0x01, 0x0D, 0x2A}},
      {"aiming on", spi::cmdAiming, {0x01}, {0x1B, 0x02, 0x10, 0x01, 0x0D, 0x3B}},
      {"aiming off", spi::cmdAiming, {0x00}, {0x1B, 0x02, 0x10, 0x00, 0x0D, 0x3A}},
      {"1000 emission mode",
       spi::cmd1000EmissionMode,
       {0x02},
       {0x1B, 0x02, 0x16, 0x02, 0x0D, 0x42}},
      {"1000 emission on", spi::cmd1000Emission, {0x01}, {0x1B, 0x02, 0x1B, 0x01, 0x0D, 0x46}},
      {"1000 emission off", spi::cmd1000Emission, {0x00}, {0x1B, 0x02, 0x1B, 0x00, 0x0D, 0x45}},
      {"1000 diode 50 %",
       spi::cmd1000DiodeCurrent,
       {C50[0], C50[1]},
       {0x1B, 0x03, 0x1A, 0xF4, 0x01, 0x0D, 0x3A}},
      {"1000 aiming on", spi::cmd1000Aiming, {0x01}, {0x1B, 0x02, 0x1D, 0x01, 0x0D, 0x48}},
      {"1000 aiming off", spi::cmd1000Aiming, {0x00}, {0x1B, 0x02, 0x1D, 0x00, 0x0D, 0x47}},
  };
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const Bytes P = spi::BuildPacket(R.Code, R.Data);
    EXPECT_EQ(P, R.Packet);
    EXPECT_TRUE(spi::CheckPacket(P.data(), static_cast<int>(P.size())));
    const auto Span = spi::FindPacket(P);
    EXPECT_EQ(Span.Skip, 0U);
    EXPECT_EQ(Span.Length, P.size());
  }
  EXPECT_EQ(Bytes(spi::StatusQuery.begin(), spi::StatusQuery.end()), Rows[0].Packet);
  EXPECT_EQ(Bytes(spi::AlarmWarningQuery.begin(), spi::AlarmWarningQuery.end()), Rows[1].Packet);

  // Tenths, halves to even, low byte first, the low 16 bits.
  const std::pair<double, std::array<std::uint8_t, 2>> Currents[] = {
      {100.0, {0xE8, 0x03}},
      {6553.6, {0x00, 0x00}},
      {0.04, {0x00, 0x00}},
      {std::numeric_limits<double>::quiet_NaN(), {0, 0}},
  };
  for (const auto& [Percent, Data] : Currents) {
    EXPECT_EQ(spi::DiodeCurrentData(Percent), Data) << Percent;
  }

  const Bytes Two = [] {
    Bytes B = spi::BuildPacket(spi::cmdStatus, Bytes{0x01, 0x00});
    const Bytes C = spi::BuildPacket(spi::cmdStatus, Bytes{0x00, 0x00});
    B.insert(B.end(), C.begin(), C.end());
    return B;
  }();
  const std::pair<Bytes, const char*> Reads[] = {
      {{0x1B, 0x03, 0x01, 0x05, 0x00, 0x0D, 0x31}, "emission 1 alarm 1 aiming 0 | -"},
      {spi::BuildPacket(spi::cmdStatus, Bytes{0x08, 0xFF}), "emission 0 alarm 0 aiming 1 | -"},
      {spi::BuildPacket(spi::cmdStatus,
                        Bytes{0x00, 0xC0, 0, 0, 0, 0, 0, 0xE2, 0x04, 0, 0, 0, 0, 0}),
       "- | aiming 1 alarm 1 power 125.0"},
      {spi::BuildPacket(spi::cmdStatus, Bytes(14, 0x3F)), "- | aiming 0 alarm 0 power 1619.1"},
      {{0x1B, 0x03, 0x01, 0x05, 0x00, 0x0D, 0x32}, "- | -"},                // bad sum
      {spi::BuildPacket(spi::cmdAlarmWarning, Bytes{0x05, 0x00}), "- | -"}, // other command
      {{0x1B, 0x01, 0x1C}, "- | -"},                                        // three bytes
      {{0x1B, 0x0F, 0x01, 0x00, 0xC0, 0x0D, 0xF8}, "- | -"}, // sums right, shorter than announced
      {Two, "- | -"},
  };
  for (const auto& [Read, Want] : Reads) {
    EXPECT_EQ(Decoded(Read), Want) << testing::PrintToString(Read);
  }
  // The laser side finds packets behind noise and waits for the rest of a partial one.
  const Bytes Noisy{0x00, 0x41, 0x1B, 0x02, 0x10, 0x01};
  EXPECT_EQ(spi::FindPacket(Noisy).Skip, 2U);
  EXPECT_EQ(spi::FindPacket(Noisy).Length, 0U);
}

} // namespace
} // namespace nclaser
