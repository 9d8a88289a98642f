#include "protocols/spi.h"

#include <cmath>

namespace nclaser::spi {

std::uint8_t Checksum(const std::uint8_t* Buffer, int Count) {
  unsigned Sum = 0;
  for (int I = 0; I < Count; ++I) {
    Sum += Buffer[I];
  }
  return static_cast<std::uint8_t>(Sum & 0xFFU);
}

std::vector<std::uint8_t> BuildPacket(std::uint8_t Code, std::span<const std::uint8_t> Data) {
  std::vector<std::uint8_t> P;
  P.reserve(Data.size() + PacketOverhead);
  P.push_back(Esc);
  P.push_back(static_cast<std::uint8_t>((Data.size() + 1) & 0xFFU));
  P.push_back(Code);
  P.insert(P.end(), Data.begin(), Data.end());
  P.push_back(Cr);
  P.push_back(Checksum(P.data(), static_cast<int>(P.size())));
  return P;
}

bool CheckPacket(const std::uint8_t* Buffer, int Count) {
  if (Buffer == nullptr || Count < 4) {
    return false;
  }
  return Checksum(Buffer, Count - 1) == Buffer[Count - 1];
}

std::array<std::uint8_t, 2> DiodeCurrentData(double Percent) {
  const double R = std::nearbyint(Percent * 10.0);
  std::uint16_t K = 0;
  if (std::isfinite(R)) {
    // The low 16 bits, taken from the integer (two's complement for negatives).
    K = static_cast<std::uint16_t>(static_cast<std::int64_t>(std::fmod(R, 65536.0)) & 0xFFFF);
  }
  return {static_cast<std::uint8_t>(K & 0xFFU), static_cast<std::uint8_t>(K >> 8)};
}

TSPIStatus SPIStatusFromData(std::uint8_t Data0) {
  TSPIStatus S;
  S.EmissionOn = (Data0 & 0x01U) != 0;
  S.Alarm = (Data0 & 0x04U) != 0;
  S.AimingOn = (Data0 & 0x08U) != 0;
  return S;
}

TSPI1000Status SPI1000StatusFromData(const std::uint8_t* Data, int Count) {
  const auto At = [&](int I) -> unsigned { return I < Count ? Data[I] : 0U; };
  TSPI1000Status S;
  S.AimingOn = (At(1) & 0x40U) != 0;
  S.Alarm = (At(1) & 0x80U) != 0;
  S.ActualPower = static_cast<double>(At(7) | (At(8) << 8)) * 0.1;
  return S;
}

bool IsStatusAnswer(const std::uint8_t* Buffer, int Count, std::uint8_t Length) {
  return CheckPacket(Buffer, Count) && Buffer[2] == cmdStatus && Buffer[1] == Length &&
         Count >= Length + PacketOverhead - 1;
}

std::optional<TSPIStatus> DecodeSPIStatus(const std::uint8_t* Buffer, int Count) {
  if (!IsStatusAnswer(Buffer, Count, StatusLength)) {
    return std::nullopt;
  }
  return SPIStatusFromData(Buffer[3]);
}

std::optional<TSPI1000Status> DecodeSPI1000Status(const std::uint8_t* Buffer, int Count) {
  if (!IsStatusAnswer(Buffer, Count, Status1000Length)) {
    return std::nullopt;
  }
  return SPI1000StatusFromData(Buffer + 3, Status1000DataUsed);
}

TPacketSpan FindPacket(std::span<const std::uint8_t> In) {
  TPacketSpan S;
  while (S.Skip < In.size() && In[S.Skip] != Esc) {
    ++S.Skip;
  }
  const std::size_t Left = In.size() - S.Skip;
  if (Left >= 2) {
    const std::size_t Whole = static_cast<std::size_t>(In[S.Skip + 1]) + PacketOverhead - 1;
    if (Left >= Whole) {
      S.Length = Whole;
    }
  }
  return S;
}

} // namespace nclaser::spi
