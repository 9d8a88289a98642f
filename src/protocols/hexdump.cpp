#include "protocols/hexdump.h"

#include <cstddef>

namespace nclaser {

std::string BytesToStr(const std::uint8_t* Buffer, int Count) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string Out;
  if (Buffer == nullptr || Count <= 0) {
    return Out;
  }
  Out.reserve(static_cast<std::size_t>(Count) * 3);
  for (int I = 0; I < Count; ++I) {
    Out.push_back(Hex[Buffer[I] >> 4]);
    Out.push_back(Hex[Buffer[I] & 0x0F]);
    Out.push_back(' ');
  }
  return Out;
}

} // namespace nclaser
