// The IPG YLR ASCII command protocol: a short upper-case mnemonic, optionally a blank and
// a number, ended by one CR; the laser answers with CR-terminated lines of the form
// mnemonic, colon, value ("STA: 1024"), error lines containing "ERR".
//
// Pure functions over text: no I/O, no threads, no host calls. Used by the YLR driver, its
// simulator and the fuzz target. Numbers are formatted and parsed with a point as decimal
// separator whatever the process locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nclaser::ylr {

constexpr char CR = '\r';

// More than this many characters gathered in the reply buffer during one analysis is
// runaway input: the whole buffer is discarded.
constexpr std::size_t MaxResponseBuf = 1000;

// The status word before any status answer.
constexpr std::uint32_t StatusUnknown = 0xFFFFFFFF;

// Status bits that count as alarms in continuous-wave and in QCW operation.
constexpr std::uint32_t AlarmMaskCW = 0x6308000A;
constexpr std::uint32_t AlarmMaskQCW = 0xE38A020A;

// Status bits the laser class reads.
constexpr int BitEmission = 2;
constexpr int BitAiming = 8;
constexpr int BitModulation = 12;

// ---- Commands ----------------------------------------------------------------------

// The command as it goes on the wire: a CR is appended unless the text already ends with
// one; an empty command stays empty (nothing is sent). Inner CRs are kept, so "EMON\rSTA"
// becomes the nine bytes "EMON\rSTA\r".
std::string TerminateCmd(std::string_view Cmd);

// Set-point commands; std::nullopt when the value is outside the accepted range (the
// command is then not sent at all).
std::optional<std::string> CmdSetDiodeCurrent(double Percent);  // "SDC %d", 0..100, truncated
std::optional<std::string> CmdSetFilterWndSz(double Value);     // "SFWS %.1f", 0.2..5.0
std::optional<std::string> CmdSetPulseRate(std::int32_t Value); // "SPRR %d", 1..9999999
std::optional<std::string> CmdSetPulseWidth(double Value);      // "SPW %.2f", 0..50

// ---- Replies -----------------------------------------------------------------------

// The result of adding received text to the reply buffer.
struct TSplitResult {
  std::vector<std::string> Lines; // complete lines, without their CR, in arrival order
  bool Overflow = false;          // the buffer passed MaxResponseBuf and was discarded
};

// Appends Text to Buf and takes every complete (CR-terminated) line out of it. What
// follows the last CR stays in Buf to be completed by the next reception; without any CR
// the whole buffer stays. When Buf + Text is longer than MaxResponseBuf the complete lines
// are still returned but Buf is emptied (Overflow).
TSplitResult SplitResponse(std::string& Buf, std::string_view Text);

enum class TLineKind : std::uint8_t {
  Error,        // contains "ERR": logged in red
  Status,       // contains "STA": the status word
  DiodeCurrent, // contains "RCS" or "SDC": the diode current echo
  Other         // ignored
};

// Classifies one reply line; the first matching rule wins in the order of TLineKind.
TLineKind ClassifyLine(std::string_view Line);

// The parameter of a reply line: everything after the first ':' with blanks and control
// characters trimmed at both ends; the text unchanged when it has no ':'.
std::string ExtractParam(std::string_view Text);

// A status parameter as a 64-bit integer, of which the low 32 bits are the status word.
std::optional<std::uint32_t> ParseStatus(std::string_view Param);

// A 32-bit integer parameter (module error code).
std::optional<std::int32_t> ParseInt32(std::string_view Param);

// Received TCP bytes as ASCII text: bytes above 127 become '?'.
std::string AsciiDecode(const std::uint8_t* Data, std::size_t Count);
// Text as ASCII bytes for TCP: characters above 127 become '?'.
std::vector<std::uint8_t> AsciiEncode(std::string_view Text);

// Text with every CR shown as "#13", for the debug log.
std::string ShowCR(std::string_view Text);

// ---- Status word -------------------------------------------------------------------

// Bit > 0: whether that bit is set; Bit <= 0: whether bit |Bit| is clear. False while the
// status is unknown.
bool GetStatusBit(std::uint32_t Status, std::int32_t Bit);

// Whether a known status has any bit of the alarm mask set.
bool HasAlarm(std::uint32_t Status, std::uint32_t AlarmBits);

// The alarm mask of an operating mode.
constexpr std::uint32_t AlarmMask(bool QCWMode) {
  return QCWMode ? AlarmMaskQCW : AlarmMaskCW;
}

// The texts of the status bits (empty where a bit has none), read from the message
// catalogue now so that a language change takes effect.
std::vector<std::string> StatusBitTexts();

// "Laser: " and the texts of every set bit that has one (bit 12 when it is clear), in
// ascending bit order without separators; empty when no bit contributes.
std::string AlarmDescription(std::uint32_t Status);

} // namespace nclaser::ylr
