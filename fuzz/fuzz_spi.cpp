// Feeds arbitrary reads to the SPI packet check and both status decoders, and arbitrary
// streams to the packet finder: nothing may crash them, and what they accept must agree
// with the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocols/spi.h"

namespace spi = nclaser::spi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const int Count = static_cast<int>(Size > 4096 ? 4096 : Size);
  const bool Ok = spi::CheckPacket(Data, Count);
  if (Ok && (Count < 4 || spi::Checksum(Data, Count - 1) != Data[Count - 1])) {
    std::abort();
  }
  const auto S = spi::DecodeSPIStatus(Data, Count);
  if (S && (!Ok || Count < 7 || Data[1] != 0x03 || Data[2] != 0x01 ||
            S->EmissionOn != ((Data[3] & 0x01) != 0) || S->Alarm != ((Data[3] & 0x04) != 0) ||
            S->AimingOn != ((Data[3] & 0x08) != 0))) {
    std::abort();
  }
  const auto K = spi::DecodeSPI1000Status(Data, Count);
  if (K && (!Ok || Count < 19 || Data[1] != 0x0F || Data[2] != 0x01 ||
            K->Alarm != ((Data[4] & 0x80) != 0) || K->ActualPower < 0 ||
            K->ActualPower > 6553.5 + 1e-9)) {
    std::abort();
  }
  if (S && K) {
    std::abort(); // one length byte cannot be both layouts
  }
  const auto P =
      spi::FindPacket(std::span<const std::uint8_t>(Data, static_cast<std::size_t>(Count)));
  if (P.Skip > static_cast<std::size_t>(Count) ||
      (P.Length > 0 &&
       (Data[P.Skip] != spi::Esc || P.Skip + P.Length > static_cast<std::size_t>(Count) ||
        P.Length != static_cast<std::size_t>(Data[P.Skip + 1]) + 4))) {
    std::abort();
  }
  return 0;
}
