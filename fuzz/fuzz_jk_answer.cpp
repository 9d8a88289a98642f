// Feeds arbitrary reads to the JK/GSI answer decoder and the frame builder: no read may
// crash them, and what they report must be consistent with the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocols/jk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const int Count = static_cast<int>(Size > 4096 ? 4096 : Size);
  const auto A = nclaser::jk::DecodeAnswer(Data, Count);
  if (Count <= 3) {
    if (A) {
      std::abort();
    }
    return 0;
  }
  if (!A || A->FunctionCode != Data[2]) {
    std::abort();
  }
  if (A->AlarmCode && (*A->AlarmCode < 0 || *A->AlarmCode > 0xFFFF || Data[3] != 0)) {
    std::abort();
  }
  if (A->ActiveParamSet && Count < 22) {
    std::abort();
  }
  // The same bytes as command data: the frame must carry them unchanged, with its CRC.
  const std::size_t N = Size < 64 ? Size : 64;
  const auto F = nclaser::jk::BuildFrame(Data[0], std::span<const std::uint8_t>(Data + 1, N - 1));
  if (F.size() != N + 4 || F.front() != 0x7E || F.back() != 0x7E) {
    std::abort();
  }
  const std::uint16_t Crc = nclaser::CalcCRC16(F.data() + 1, static_cast<int>(N));
  if (F[N + 1] != (Crc & 0xFF) || F[N + 2] != (Crc >> 8)) {
    std::abort();
  }
  return 0;
}
