// Line helpers shared by the text-protocol models: where a line ends, how a line is shown,
// and the garbled line a model sends instead of an answer when asked to.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sim/endpoint.h"

namespace nclaser::sim {

// The first line of In ended by Terminator ("\r\n" or "\r"); bytes in Skippable before it
// are noise (the line feed a sender may add after a carriage return).
TSplit SplitLine(std::span<const std::uint8_t> In, std::string_view Terminator,
                 std::string_view Skippable = {});
// The request without its line end.
std::string LineText(std::span<const std::uint8_t> Request);
// CR and LF made visible: "?STATUS\r\n".
std::string VisibleLine(std::span<const std::uint8_t> Request);
// A line of printable junk of about the answer's length, ended like it, from Seed.
TBytes GarbledLine(std::string_view Answer, std::uint32_t& Seed);

} // namespace nclaser::sim
