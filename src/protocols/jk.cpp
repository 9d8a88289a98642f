#include "protocols/jk.h"

#include <cmath>

namespace nclaser {

namespace {

constexpr std::array<std::uint16_t, 256> MakeX25Table() {
  std::array<std::uint16_t, 256> T{};
  for (unsigned I = 0; I < 256; ++I) {
    unsigned C = I;
    for (int B = 0; B < 8; ++B) {
      C = (C & 1U) != 0 ? (C >> 1) ^ 0x8408U : C >> 1;
    }
    T[I] = static_cast<std::uint16_t>(C);
  }
  return T;
}

constexpr std::array<std::uint16_t, 256> X25Table = MakeX25Table();

// Halves to even, then the low 32 bits as the laser takes them; values that are not numbers
// (or beyond any integer) give 0.
std::uint32_t RoundToWire(double Value) {
  const double R = std::nearbyint(Value);
  if (!std::isfinite(R) || std::fabs(R) >= 9.2e18) {
    return 0;
  }
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(R));
}

void AppendBigEndian32(std::vector<std::uint8_t>& Data, std::uint32_t V) {
  Data.push_back(static_cast<std::uint8_t>(V >> 24));
  Data.push_back(static_cast<std::uint8_t>(V >> 16));
  Data.push_back(static_cast<std::uint8_t>(V >> 8));
  Data.push_back(static_cast<std::uint8_t>(V));
}

// NaN compares false, so it counts as "not above 0".
std::uint8_t OnOff(double Value) {
  return Value > 0 ? 0xFF : 0x00;
}

} // namespace

std::uint16_t CalcCRC16(const std::uint8_t* Buffer, int Count) {
  if (Buffer == nullptr || Count <= 0) {
    return 0x0000;
  }
  std::uint16_t Crc = 0xFFFF;
  for (int I = 0; I < Count; ++I) {
    Crc = static_cast<std::uint16_t>(X25Table[(Buffer[I] ^ Crc) & 0xFF] ^ (Crc >> 8));
  }
  return static_cast<std::uint16_t>(~Crc);
}

namespace jk {

std::vector<std::uint8_t> BuildFrame(std::uint8_t Address, std::span<const std::uint8_t> Data) {
  std::vector<std::uint8_t> F;
  F.reserve(Data.size() + FrameOverhead);
  F.push_back(Flag);
  F.push_back(Address);
  F.insert(F.end(), Data.begin(), Data.end());
  const std::uint16_t Crc = CalcCRC16(F.data() + 1, static_cast<int>(Data.size() + 1));
  F.push_back(static_cast<std::uint8_t>(Crc & 0xFF));
  F.push_back(static_cast<std::uint8_t>(Crc >> 8));
  F.push_back(Flag);
  return F;
}

bool TJKAnswer::Announces() const {
  return FunctionCode == fcStatus || FunctionCode == fcAimingQuery || FunctionCode == fcParams ||
         FunctionCode == fcAlarm;
}

std::optional<TJKAnswer> DecodeAnswer(const std::uint8_t* Buffer, int Count) {
  if (Buffer == nullptr || Count <= 3) {
    return std::nullopt;
  }
  const auto Has = [Count](int Index) { return Index < Count; };
  TJKAnswer A;
  A.FunctionCode = Buffer[2];
  switch (A.FunctionCode) {
  case fcStatus:
    A.LaserStatus = Buffer[3];
    break;
  case fcAimingQuery:
    if (Has(4)) {
      A.AimingOn = Buffer[4] == 0xFF;
    }
    break;
  case fcParams:
    if (Has(6)) {
      A.LaserStatus = Buffer[6];
    }
    if (Has(21)) {
      A.ActiveParamSet = Buffer[21];
    }
    break;
  case fcAlarm:
    if (Buffer[3] == 0 && Has(5)) {
      A.AlarmCode = Buffer[4] * 256 + Buffer[5];
    }
    break;
  default:
    break;
  }
  return A;
}

std::vector<std::uint8_t> DiodeSetPointData(double Percent) {
  std::vector<std::uint8_t> D{fcSetValue, 0x01, 0x05};
  AppendBigEndian32(D, RoundToWire(Percent * 10.0));
  return D;
}

std::optional<std::vector<std::uint8_t>> ExecuteCmdData(int Id, double Value) {
  switch (Id) {
  case 0x1000:
    return std::vector<std::uint8_t>{fcOff};
  case 0x1001:
    return std::vector<std::uint8_t>{fcStandby};
  case 0x1002:
    return std::vector<std::uint8_t>{fcEmission};
  case 0x1003:
    return std::vector<std::uint8_t>{fcStatus};
  case 0x1005:
    return std::vector<std::uint8_t>{fcPrepare};
  case 0x1010:
    return std::vector<std::uint8_t>{fcAiming, OnOff(Value)};
  case 0x1011:
    return std::vector<std::uint8_t>{fcAimingQuery};
  case 0x1050:
    return std::vector<std::uint8_t>{fcParams, 0x01, 0x01};
  default:
    break;
  }
  if (Id < 0x1000) {
    return std::nullopt;
  }
  const auto Sub = static_cast<std::uint8_t>(Id & 0xFF);
  // 0x5F is tested first: every 0x5F.. id also matches the 0x5D mask.
  if ((Id & 0x5F00) == 0x5F00) {
    return std::vector<std::uint8_t>{fcSetFlag, 0x01, Sub, OnOff(Value)};
  }
  if ((Id & 0x5D00) == 0x5D00) {
    std::vector<std::uint8_t> D{fcSetValue, 0x01, Sub};
    AppendBigEndian32(D, RoundToWire(Value));
    return D;
  }
  return std::nullopt;
}

std::vector<std::vector<std::uint8_t>> EmissionOnSequence() {
  return {{fcPrepare},
          {fcStandby},
          {fcEmission},
          {fcSetFlag, 0x01, 0x01, 0x00},
          {fcSetFlag, 0x01, 0x02, 0xFF},
          {fcSetFlag, 0x01, 0x06, 0xFF}};
}

} // namespace jk
} // namespace nclaser
