// Invariant number formatting and parsing: a point as decimal separator whatever the
// process locale. Laser protocols depend on it ("SDC %d", "SPW %.2f", reply values).
// Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace nclaser {

using TFmtArg = std::variant<std::int64_t, std::uint64_t, double, std::string>;

// The host's Format with the conventions of its runtime: %d %u %x (upper-case hex digits)
// %s %f (two decimals by default) %e %g %%, with '-' (left-justify), width and precision.
// Fixed-point values round half away from zero on their 18-digit decimal form. A
// directive without a matching argument, or of the wrong kind, renders as its text.
std::string Format1033V(std::string_view Format, const std::vector<TFmtArg>& Args);

namespace detail {
template <class T> TFmtArg ToFmtArg(T&& V) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, bool>) {
    return std::int64_t{V ? 1 : 0};
  } else if constexpr (std::is_floating_point_v<D>) {
    return static_cast<double>(V);
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    return static_cast<std::int64_t>(V);
  } else if constexpr (std::is_integral_v<D> || std::is_enum_v<D>) {
    return static_cast<std::uint64_t>(V);
  } else {
    return std::string(std::forward<T>(V));
  }
}
} // namespace detail

template <class... A> std::string Format1033(std::string_view Format, A&&... Args) {
  return Format1033V(Format, std::vector<TFmtArg>{detail::ToFmtArg(std::forward<A>(Args))...});
}

// General format with 15 significant digits, as the host's FloatToStr: "0.1", "100",
// "1E20", "1.5E-6".
std::string FloatToStr1033(double Value);

// Accepts optional blanks around, an optional sign, digits with at most one point, and an
// optional exponent. Returns false (Value untouched) on anything else.
bool TryStrToFloat1033(std::string_view Text, double& Value);

} // namespace nclaser
