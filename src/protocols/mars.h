// The Mars text protocol: "KEY=VALUE" commands and "?KEY" queries, every line ended by
// CR LF; the laser's maximum-power and status answers. Pure functions over text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nclaser::mars {

constexpr std::string_view LineEnd = "\r\n";

// "KEY=VALUE\r\n" and "?KEY\r\n".
std::string SetCommand(std::string_view Key, std::string_view Value);
std::string Query(std::string_view Key);

// The texts the laser class sends.
const std::string& MaxPowerQuery();  // "?IMAXUSR\r\n"
const std::string& StatusQuery();    // "?STATUS\r\n"
const std::string& EmissionOnCmd();  // "ENABLE=1FF\r\n"
const std::string& EmissionOffCmd(); // "ENABLE=100\r\n"
std::string PilotCmd(bool On);       // "PILOT_EN=1\r\n" / "PILOT_EN=0\r\n"
// Queued at construction, in this order.
const std::vector<std::string>& StartCommands();

// The set point in tenths of a watt: MaxPower x Percent x 0.1, halves to even.
std::int64_t PowerTenths(double MaxPowerW, double Percent);
// "OUT=" + tenths in upper-case hex with at least 4 digits + "00000000\r\n".
std::string PowerCmd(double MaxPowerW, double Percent);

// Which of the two status formats the laser speaks.
enum class TVersion : std::uint8_t {
  VerN = 0,   // not known yet
  Ver101 = 1, // 8 status digits
  Ver102 = 2, // 16 status digits
};

// A "PMAX_CW=" answer (the key in any case). Found is false when the text has no key;
// PwrStr is the up to 4 characters after it, as received; MaxPowerW is set when they read
// as hexadecimal (tenths of a watt, converted to watts).
struct TMaxPowerAnswer {
  bool Found = false;
  std::string PwrStr;
  std::optional<double> MaxPowerW;
};
TMaxPowerAnswer ParseMaxPower(std::string_view Text);

// A "STATUS=" answer (the key in any case): the characters between the key and the first
// CR LF must be 8 or 16 hexadecimal digits. The first well-formed answer fixes the format
// (Version, from Current when it is still VerN); later ones keep it, whatever their length.
// Digits holds the digit values, most significant first. A text with anything else between
// key and line end (another count, a non-hex character, a line end before the key) is not
// a status answer: Found false.
struct TStatusAnswer {
  bool Found = false;
  TVersion Version = TVersion::VerN;
  std::string DigitText;
  std::vector<std::uint8_t> Digits;
};
TStatusAnswer ParseStatus(std::string_view Text, TVersion Current);

// Status bits set in the digits, in rising order; bit 0 is the least significant bit of
// the last digit.
std::vector<int> SetBits(const std::vector<std::uint8_t>& Digits);

// The alarm bits of each format (bit number -> which text); the laser maps them to its
// messages.
enum class TAlarm : std::uint8_t {
  CurrentErr,
  PanelDisConnectErr,
  InterLockErr,
  Err,
  Warning,
  ServerTimeOut,
  BreakLineErr,
  CondensationErr,
};
struct TAlarmBit {
  int Bit;
  TAlarm Alarm;
};
const std::vector<TAlarmBit>& AlarmBits(TVersion Version);

} // namespace nclaser::mars
