// The CAS and QingHua serial commands: short ASCII texts the lasers take without an answer
// the plug-in reads. Pure functions over bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nclaser {

namespace cas {

// Every CAS command ends with one carriage return and nothing else.
std::string EmissionCmd(bool On); // "EMIS:1\r" / "EMIS:0\r"
std::string GuideCmd(bool On);    // "GUID:1\r" / "GUID:0\r" (the aiming beam)
std::string CurrentQuery();       // "RCUS:\r"
// The set point in whole percent: rounded (halves to even), taken as a byte, then kept
// within 10 and 100.
int CurrentPercent(double Percent);
std::string CurrentCmd(double Percent); // "SCUS:" + two digits, or "SCUS:100", + "\r"

} // namespace cas

namespace qinghua {

// "w6", the channel digit, a blank, the data, CR LF.
std::vector<std::uint8_t> Frame(int Channel, std::string_view Data);

constexpr int chLaser = 0; // data "1" on, "0" off
constexpr int chPower = 1; // the power digits
constexpr int chMode = 5;  // "0" before every power change

// The power digits: rounded (halves to even) and taken as a byte; three digits from 100 on,
// else two with a leading zero ("05").
std::string PowerDigits(double Percent);

} // namespace qinghua

} // namespace nclaser
