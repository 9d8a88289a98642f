// The NLight text protocol: lower-case "get"/"set" commands ended by a carriage return, and
// the laser's maximum-power answer. Pure functions over text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nclaser::nlight {

// Every command goes out lower-cased (the laser's parser is case-sensitive).
std::string Lower(std::string_view Text);

const std::string& MaxPowerQuery(); // "get maxpower\r"
std::string SysOnCmd(bool On);      // "set syson 1\r" / "set syson 0\r"
std::string EnableCmd(bool On);     // "set enable 1\r" / "set enable 0\r"
std::string AimingCmd(bool On);     // "set aimingon 1\r" / "set aimingon 0\r"

// One read of the laser's answer: its last two characters (the line end) are dropped and
// the rest read as a decimal number with a point; nullopt when it does not read.
std::optional<double> ParseMaxPower(std::string_view Text);

// Above this many watts an answer proves a working link.
constexpr double ConnectedAboveW = 10.0;

} // namespace nclaser::nlight
