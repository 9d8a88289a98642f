// The Raycus wire formats. Pure functions over bytes: no I/O, no threads, no host calls.
//
// QCW lasers speak binary frames: AA 55, a big-endian length, CTN, channel, command code,
// a reserved byte, data, a big-endian check word and 55 AA. A request's check word is the
// 16-bit sum of CTN through the data, wrapping at 65536; an answer's must equal the plain
// (unwrapped) sum of the same bytes, so an answer whose sum exceeds 65535 never checks.
// Continuous-wave lasers take short ESC-prefixed commands ending in CR.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nclaser::raycus {

// ---- QCW frames -----------------------------------------------------------------------

// TCmdCode: every command the driver sends.
enum TCmdCode : std::uint8_t {
  cmdCheckStatus = 0xE1,
  cmdSetLaserData = 0xE2,
  cmdCheckBySuperMode = 0xE7,
  cmdReadErrorRecord = 0xE8,
  cmdLaserOn = 0xE9,
  cmdLaserOff = 0xEA,
  cmdResetLaserMode = 0xED,
};

// TCtrlMode.
enum TCtrlMode : std::uint8_t {
  OFFMode = 0,
  InterContinusMode = 1,
  InterModulationMode = 2,
  OuterContinusMode = 3,
  OuterModulationMode = 4,
};

// Header, length, CTN, channel, code, reserved, check word, footer.
constexpr std::size_t FrameOverhead = 12;
// The fixed part of a status answer (through ModuleNum) and the state bytes per module.
constexpr std::size_t LaserDataSize = 32;
constexpr std::size_t ModuleStateSize = 13;
// The result the laser reports for an accepted command.
constexpr std::uint8_t StatusAccepted = 1;

// The 16-bit sum of Bytes, wrapping at 65536 (the request rule).
std::uint16_t CheckWord(std::span<const std::uint8_t> Bytes);

// AA 55, n + 6, 00 FF Code 00, Data, check word, 55 AA.
std::vector<std::uint8_t> BuildRequest(std::uint8_t Code, std::span<const std::uint8_t> Data = {});
// The laser's side: the same layout; the check word is the plain sum when it fits 16
// bits (the laser sends what the controller can check).
std::vector<std::uint8_t> BuildAnswer(std::uint8_t Code, std::span<const std::uint8_t> Data);

// CheckDataInvalid: true when Frame is one whole valid answer. A frame shorter than the
// 12 bytes of header, length, CTN, channel, code, reserved, check word and footer is
// rejected before anything else is read: its fields would overlap.
bool CheckAnswer(std::span<const std::uint8_t> Frame);

// A checked answer: its code (byte 6) and its Length - 6 data bytes from offset 8.
struct TAnswer {
  std::uint8_t Code = 0;
  std::span<const std::uint8_t> Data;
};
std::optional<TAnswer> ParseAnswer(std::span<const std::uint8_t> Frame);

// The status fields, byte for byte as the laser sends them (TRayQCWDriver.TLaserData).
struct TLaserData {
  std::uint8_t DeviceType[10];
  std::uint8_t ID[10];
  std::uint8_t FirmVersion[5];
  std::uint16_t FreqUpper; // the two bytes in the order received
  std::uint16_t FreqLower;
  std::uint8_t RatioLower;
  std::uint8_t RatioUpper;
  std::uint8_t ModuleNum;
  std::vector<std::uint8_t> ModuleState; // ModuleNum x 13 bytes, TModuleState order
};
// The first 32 data bytes into Data (ModuleState untouched).
void CopyLaserHead(std::span<const std::uint8_t, LaserDataSize> Bytes, TLaserData& Data);
// The 32 bytes of the head as the laser sends them.
std::array<std::uint8_t, LaserDataSize> LaserHeadBytes(const TLaserData& Data);

// The status answer's data (0xE1): the head and ModuleNum x 13 state bytes. An answer
// shorter than the head, or than the state bytes its module count announces, is rejected
// (nullopt): copying it would read past what the laser sent. Bytes beyond are ignored.
std::optional<TLaserData> DecodeStatus(std::span<const std::uint8_t> Data);

// The index (0..12) of the text of the last nonzero state byte; -1 when there are fewer
// than 13 bytes or none is nonzero.
int AlarmIndex(std::span<const std::uint8_t> ModuleState);

// The 0xE2 data: mode, power, frequency (big-endian), ratio, pulse width (big-endian).
std::array<std::uint8_t, 7> LaserDataBytes(std::uint8_t Mode, std::uint8_t Power,
                                           std::uint16_t Freq, std::uint8_t Ratio,
                                           std::uint16_t PulseW);

// The pulse parameters after the driver's clamping for the model the laser reported.
struct TPulse {
  std::uint8_t Power = 0;
  std::uint16_t Freq = 0;
  std::uint8_t Ratio = 0;
  std::uint16_t PulseW = 0;
};
enum class TQCWModel { Unknown, QCW150, QCW450 };
TPulse ClampPulse(TQCWModel Model, std::uint8_t Power, std::uint16_t Freq, std::uint8_t Ratio,
                  std::uint16_t PulseW);

// Where the first frame of a byte stream lies (the laser's side): Skip bytes before the
// first AA 55, then Length bytes of frame (0 while it is incomplete). A header with a
// length below 6 cannot start a frame and is skipped.
struct TFrameSpan {
  std::size_t Skip = 0;
  std::size_t Length = 0;
};
TFrameSpan FindFrame(std::span<const std::uint8_t> In);

// A request as the laser checks it: the layout of an answer, with the wrapping sum.
bool CheckRequest(std::span<const std::uint8_t> Frame);

// ---- Continuous-wave commands -----------------------------------------------------------

constexpr std::uint8_t Esc = 0x1B;
constexpr std::uint8_t Cr = 0x0D;
constexpr std::array<std::uint8_t, 3> EmissionOnCmd{Esc, 'O', Cr};
constexpr std::array<std::uint8_t, 3> EmissionOffCmd{Esc, 'S', Cr};
// ESC "F" frequency (2 bytes, big-endian) "D" ratio "P" power CR: the low 16 bits of the
// frequency and the low bytes of ratio and power.
std::array<std::uint8_t, 9> PulseParamsCmd(std::int32_t Freq, std::int32_t Ratio,
                                           std::int32_t Power);
// ESC "C" "P" percent CR.
std::array<std::uint8_t, 5> DiodeCmd(std::uint8_t Percent);

// The length of the command that starts In[0] (an ESC), 0 when In[0] starts none that is
// known, nullopt while more bytes are needed to tell.
std::optional<std::size_t> CwCommandLength(std::span<const std::uint8_t> In);

// Bytes widened one to one into characters (ISO 8859-1), as UTF-8.
std::string Latin1ToUtf8(std::span<const std::uint8_t> Bytes);

} // namespace nclaser::raycus
