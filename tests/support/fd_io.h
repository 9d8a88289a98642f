// Timed reads and writes on a descriptor, shared by the TCP and simulator test fixtures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nclaser::testing {

// Appends to Out what arrives on Fd until MinCount more bytes came or TimeoutMs has passed;
// then takes whatever is already waiting. False when the descriptor reported end of file or
// an error (what came before is kept).
bool ReadFdMin(int Fd, std::vector<std::uint8_t>& Out, size_t MinCount, int TimeoutMs);
// Writes every byte (waiting for room up to TimeoutMs); false on failure.
bool WriteFdAll(int Fd, const void* Data, size_t Count, int TimeoutMs = 1000);

} // namespace nclaser::testing
