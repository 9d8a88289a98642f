// Timed reads on a descriptor, shared by the pty and TCP test fixtures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace nclaser::testing {

// Appends to Out what arrives on Fd until Done(Out) holds or TimeoutMs has passed; then
// takes whatever is already waiting. False when the descriptor reported end of file or an
// error (what came before is kept).
bool ReadFdUntil(int Fd, std::vector<std::uint8_t>& Out, int TimeoutMs,
                 const std::function<bool(const std::vector<std::uint8_t>&)>& Done);

bool ReadFdMin(int Fd, std::vector<std::uint8_t>& Out, size_t MinCount, int TimeoutMs);
// Writes every byte (waiting for room up to TimeoutMs); false on failure.
bool WriteFdAll(int Fd, const void* Data, size_t Count, int TimeoutMs = 1000);

} // namespace nclaser::testing
