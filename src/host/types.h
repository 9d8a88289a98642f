// Small value types shared by the host interfaces and the plug-in.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace nclaser {

using Byte = std::uint8_t;
// A colour as 0x00BBGGRR, the way the host's message log takes it.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clTeal = 0x808000;

// The prominent message type of the host's log (a lost laser link).
constexpr int mtProminent = 5;

// The runtime's component: the owner a laser or driver is created with. The plug-in only
// passes it on.
class TComponent {
public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent() = default;
};

// The value of ExecCmd(Name, var Value).
using TVariant = std::variant<std::monostate, bool, std::int64_t, double, std::string>;

// Port numbers are handed to the host as their low 8 bits.
constexpr Byte PortByte(std::int32_t Port) {
  return static_cast<Byte>(Port & 0xFF);
}

} // namespace nclaser
