// Frames with their check built here, bit by bit, so that a test does not trust the codec it
// checks: the JK/GSI CRC and the IPG YLS CRC (ARC).
#pragma once

#include <cstdint>
#include <vector>

namespace nclaser::testing {

using TCheckBytes = std::vector<std::uint8_t>;

// A reflected CRC-16: polynomial Poly (reflected), start value Init, complemented at the end
// when Invert.
inline std::uint16_t ReflectedCrc16(const TCheckBytes& B, unsigned Poly, unsigned Init,
                                    bool Invert) {
  unsigned Crc = Init;
  for (const std::uint8_t Byte : B) {
    Crc ^= Byte;
    for (int Bit = 0; Bit < 8; ++Bit) {
      Crc = (Crc & 1U) != 0 ? (Crc >> 1U) ^ Poly : Crc >> 1U;
    }
  }
  return static_cast<std::uint16_t>(Invert ? ~Crc : Crc);
}
inline std::uint16_t Arc(const TCheckBytes& B) {
  return ReflectedCrc16(B, 0xA001, 0x0000, false);
}
inline void PutLe(TCheckBytes& F, std::uint32_t V, int Bytes) {
  for (int I = 0; I < Bytes; ++I) {
    F.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
  }
}

// 7E, address, data, the X-25 of address and data (low byte first), 7E.
inline TCheckBytes JkFrame(std::uint8_t Address, const TCheckBytes& Data) {
  TCheckBytes F{0x7E, Address};
  F.insert(F.end(), Data.begin(), Data.end());
  PutLe(F, ReflectedCrc16(TCheckBytes(F.begin() + 1, F.end()), 0x8408, 0xFFFF, true), 2);
  F.push_back(0x7E);
  return F;
}

// A YLS frame: code, a word (reserved, or the execution code), the data size in 32 bits,
// the data, then the ARC of everything before it; all little-endian.
inline TCheckBytes YlsFrame(std::uint16_t Code, std::uint16_t Word2, const TCheckBytes& Data) {
  TCheckBytes F;
  PutLe(F, Code, 2);
  PutLe(F, Word2, 2);
  PutLe(F, static_cast<std::uint32_t>(Data.size()), 4);
  F.insert(F.end(), Data.begin(), Data.end());
  PutLe(F, Arc(F), 2);
  return F;
}

} // namespace nclaser::testing
