#include "protocols/castext.h"

#include <cmath>

namespace nclaser {

namespace {

// Rounded halves to even, then the low 8 bits (through an integer: a double out of range
// has no byte value of its own).
int RoundToByte(double Value) {
  if (!std::isfinite(Value) || std::fabs(Value) > 9.0e18) {
    return 0;
  }
  const auto I = static_cast<std::int64_t>(std::nearbyint(Value));
  return static_cast<int>(static_cast<std::uint64_t>(I) & 0xFFU);
}

std::string Digit(int V) {
  return std::string(1, static_cast<char>('0' + V));
}

} // namespace

namespace cas {

std::string EmissionCmd(bool On) {
  return On ? "EMIS:1\r" : "EMIS:0\r";
}

std::string GuideCmd(bool On) {
  return On ? "GUID:1\r" : "GUID:0\r";
}

std::string CurrentQuery() {
  return "RCUS:\r";
}

int CurrentPercent(double Percent) {
  int K = RoundToByte(Percent);
  if (K < 10) {
    K = 10;
  }
  if (K > 100) {
    K = 100;
  }
  return K;
}

std::string CurrentCmd(double Percent) {
  const int K = CurrentPercent(Percent);
  if (K == 100) {
    return "SCUS:100\r";
  }
  return "SCUS:" + Digit(K / 10) + Digit(K % 10) + "\r";
}

} // namespace cas

namespace qinghua {

std::vector<std::uint8_t> Frame(int Channel, std::string_view Data) {
  std::string F = "w6";
  F += static_cast<char>(0x30 + Channel);
  F += ' ';
  F += Data;
  F += "\r\n";
  return {F.begin(), F.end()};
}

std::string PowerDigits(double Percent) {
  const int K = RoundToByte(Percent);
  const int H = K / 100;
  const int T = (K % 100) / 10;
  const int U = K % 10;
  return (H > 0 ? Digit(H) : std::string()) + Digit(T) + Digit(U);
}

} // namespace qinghua

} // namespace nclaser
