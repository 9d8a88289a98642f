// Feeds arbitrary reads to the Mars answer parsers (maximum power and status word): no
// read may crash them, and what they report must agree with the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocols/mars.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using nclaser::mars::TVersion;
  const std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  const auto P = nclaser::mars::ParseMaxPower(Text);
  if (P.PwrStr.size() > 4 || (!P.Found && (P.MaxPowerW || !P.PwrStr.empty()))) {
    std::abort();
  }
  if (P.MaxPowerW && (*P.MaxPowerW < 0.0 || *P.MaxPowerW > 6553.6)) {
    std::abort();
  }
  for (const TVersion Current : {TVersion::VerN, TVersion::Ver101, TVersion::Ver102}) {
    const auto S = nclaser::mars::ParseStatus(Text, Current);
    if (!S.Found) {
      if (!S.Digits.empty()) {
        std::abort();
      }
      continue;
    }
    if ((S.Digits.size() != 8 && S.Digits.size() != 16) || S.DigitText.size() != S.Digits.size()) {
      std::abort();
    }
    // A known format is kept; an unknown one is taken from the digit count.
    const TVersion Want = Current != TVersion::VerN ? Current
                          : S.Digits.size() == 8    ? TVersion::Ver101
                                                    : TVersion::Ver102;
    if (S.Version != Want) {
      std::abort();
    }
    for (const int Bit : nclaser::mars::SetBits(S.Digits)) {
      if (Bit < 0 || Bit >= static_cast<int>(4 * S.Digits.size())) {
        std::abort();
      }
    }
  }
  return 0;
}
