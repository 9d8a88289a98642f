// Feeds arbitrary reads to the NLight maximum-power parser: no read may crash it, and a
// number it reports must be finite and come from the text before the line end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocols/nlight.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  const auto V = nclaser::nlight::ParseMaxPower(Text);
  if (!V) {
    return 0;
  }
  if (Size <= 2 || std::isnan(*V)) {
    std::abort();
  }
  // The same text with other line-end characters reads the same.
  std::string Other(Text.substr(0, Size - 2));
  Other += "xy";
  const auto W = nclaser::nlight::ParseMaxPower(Other);
  if (!W || *W != *V) {
    std::abort();
  }
  return 0;
}
