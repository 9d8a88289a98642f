// The hex dump of the link log lines, shared by the lasers and the drivers.
#pragma once

#include <cstdint>
#include <string>

namespace nclaser {

// Two upper-case hex digits and a blank per byte; empty for no buffer or Count <= 0.
std::string BytesToStr(const std::uint8_t* Buffer, int Count);

} // namespace nclaser
