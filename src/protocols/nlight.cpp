#include "protocols/nlight.h"

#include "runtime/format1033.h"

namespace nclaser::nlight {

std::string Lower(std::string_view Text) {
  std::string S(Text);
  for (char& C : S) {
    if (C >= 'A' && C <= 'Z') {
      C = static_cast<char>(C - 'A' + 'a');
    }
  }
  return S;
}

const std::string& MaxPowerQuery() {
  static const std::string S = "get maxpower\r";
  return S;
}

std::string SysOnCmd(bool On) {
  return On ? "set syson 1\r" : "set syson 0\r";
}

std::string EnableCmd(bool On) {
  return On ? "set enable 1\r" : "set enable 0\r";
}

std::string AimingCmd(bool On) {
  return On ? "set aimingon 1\r" : "set aimingon 0\r";
}

std::optional<double> ParseMaxPower(std::string_view Text) {
  if (Text.size() <= 2) {
    return std::nullopt;
  }
  double V = 0.0;
  if (!TryStrToFloat1033(Text.substr(0, Text.size() - 2), V)) {
    return std::nullopt;
  }
  return V;
}

} // namespace nclaser::nlight
