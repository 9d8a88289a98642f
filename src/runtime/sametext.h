// Comparing names ignoring case, as the host's runtime does: only the ASCII letters are
// folded, whatever the process locale (a Turkish locale must not turn 'I' into a dotless
// i); every other byte compares as it is. Pure, safe from any thread.
#pragma once

#include <string_view>

namespace nclaser {

constexpr char AsciiLower(char C) {
  return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

constexpr bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) {
    return false;
  }
  for (std::size_t I = 0; I < A.size(); ++I) {
    if (AsciiLower(A[I]) != AsciiLower(B[I])) {
      return false;
    }
  }
  return true;
}

} // namespace nclaser
