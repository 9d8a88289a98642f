// The IPG YLS binary protocol over TCP: every request and every answer is one frame of an
// 8-byte header (code, reserved/execution code, data size; little-endian), the data, and
// a CRC-16/ARC over everything before it. Also the answer records, the status words and
// the alarm and warning texts the laser's status data carries.
//
// Pure functions over bytes: no I/O, no threads, no host calls. Used by the YLS driver, its
// simulator and the fuzz target. Records are decoded field by field from little-endian
// bytes, never by laying a struct over the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nclaser::yls {

using TBytes = std::vector<std::uint8_t>;

// Header, then data, then the two CRC bytes.
constexpr std::size_t HeaderSize = 8;
constexpr std::size_t FrameOverhead = HeaderSize + 2;
// The largest data block the stream reassembly believes: the laser's largest record is
// 184 bytes, so a header claiming more than this is noise.
constexpr std::uint32_t MaxDataSize = 1024;

// Command codes (TCmdCode).
enum : std::uint16_t {
  cmdGetLaserID = 1,
  cmdGetLaserStatus = 2001,
  cmdGetTimeData = 2002,
  cmdGetDewPointData = 2032,
  cmdSetAccessLev = 2080,
  cmdPowerSupply = 2500,
  cmdSetPumpCurrent = 2501,
  cmdSetOutPower = 2502,
  cmdEmission = 2503,
  cmdGuideLaser = 2504,
  cmdSetOptChannel = 2505,
  cmdResetNoCritError = 2506,
  cmdAnalogCtrl = 2508,
  cmdModulationCtrl = 2509,
};

// One of the codes above: the only codes a laser answers to this driver.
bool IsAnswerCode(std::uint16_t Code);

// The execution code by which the laser asks for an access level first.
constexpr std::uint16_t ExecNeedAccessLevel = 0xFFFA;
// The data word of the emission-on command.
constexpr std::uint16_t EmissionOnValue = 0x0155;

// CRC-16/ARC: reflected polynomial 0xA001, initial 0, no final XOR; "123456789" gives
// 0xBB3D. One table, built once per owner, drives it.
class TCrc16 {
public:
  TCrc16();
  std::uint16_t Calc(std::span<const std::uint8_t> Bytes) const;

private:
  std::array<std::uint16_t, 256> FTable{};
};
// With a table built for the call; for code that runs it rarely.
std::uint16_t Crc16(std::span<const std::uint8_t> Bytes);

// ---- Requests ----------------------------------------------------------------------

// Code, 0, the data size, the data, the CRC.
TBytes BuildRequest(const TCrc16& Crc, std::uint16_t Code, std::span<const std::uint8_t> Data);
// The data blocks of the commands, in the laser's byte order.
TBytes Word16(std::uint16_t Value);
TBytes Word32(std::uint32_t Value);
// TStructureA: two 16-bit words.
TBytes StructureA(std::uint16_t First, std::uint16_t Second);
// The access-level block: 1, level 100, ten zero bytes.
TBytes AccessLevelData();
// The pump-current data word: percent x 100 rounded to the nearest integer (halves to even,
// the runtime's rounding); nullopt outside 0..100, when nothing is to be sent.
std::optional<std::uint16_t> PumpCurrentValue(double Percent);

// ---- Answers -----------------------------------------------------------------------

struct TAnswerHeader {
  std::uint16_t Answer = 0;        // the code answered
  std::uint16_t Executioncode = 0; // low byte 0: success
  std::uint32_t Datasize = 0;
};

enum class TCheck {
  Ok,
  Empty,
  CrcError,  // wrong CRC, or an answer code whose low byte is 0
  SizeError, // shorter than its header or its data size says
};

// Checks one whole frame; the header is filled when the result is Ok.
TCheck CheckAnswer(const TCrc16& Crc, std::span<const std::uint8_t> Frame, TAnswerHeader& Header);
// The frame the laser would send (for the simulator and tests).
TBytes BuildAnswer(const TCrc16& Crc, std::uint16_t Code, std::uint16_t Executioncode,
                   std::span<const std::uint8_t> Data);

// ---- Records -----------------------------------------------------------------------

struct TLaserID {
  std::uint16_t Version;
  std::uint16_t LasterProductLine;
  std::array<std::uint8_t, 64> LasterID;
  std::array<std::uint8_t, 32> LasterSN;
};

struct TLaserData {
  std::uint16_t version;
  std::uint16_t SetILD;
  std::uint32_t SetPower;
  std::uint32_t OutputPower;
  std::uint16_t TemperatureMean;
  std::uint16_t TemperatureMin;
  std::uint16_t TemperatureMax;
  std::uint8_t ModuleWithMinTemp;
  std::uint8_t ModuleWithMaxTemp;
  std::int16_t WaterFlow;
  std::uint32_t Status1;
  std::uint32_t Status2;
  std::uint32_t Alarms1;
  std::uint32_t Alarms2;
  std::uint32_t Warnings1;
  std::uint32_t Warrings2;
  std::array<std::uint8_t, 16> ModulesUnconnected;
  std::array<std::uint8_t, 16> ModulesDisable;
  std::array<std::uint8_t, 16> ModulesReserved;
  std::array<std::uint8_t, 16> MoudulesFatalDiable;
  std::array<std::uint8_t, 16> ModulesErrors;
  std::array<std::uint8_t, 16> ModulesFibersInterlocks;
  std::uint32_t HardwiringInputs;
  std::uint32_t HardwiringOutputs;
  std::uint16_t RiseTime;
  std::uint16_t FallTime;
  std::uint16_t ProgramNumber;
  std::uint16_t ProgramEndCode;
  std::uint16_t ProgramErrorLine;
  std::uint16_t UControl;
  std::uint32_t ePcStatus;
  std::uint16_t FFWaterFlow;
  std::uint16_t SideSpotLaserPower1;
  std::uint16_t SideSpotLaserPower2;
  std::uint16_t SetSideSpotLaserPower1;
  std::uint16_t SetSideSpotLaserPower2;
  std::uint32_t OutputPeakPower;
  std::uint32_t CustomerOutputPower;
};

struct TTimeData {
  std::array<std::uint8_t, 16> Date;
  std::uint64_t WorkTime;
  std::uint64_t EmissionTime;
  std::uint32_t WorkTimeToday;
  std::uint32_t EmissionTimeTaday;
};

struct TDewPointData {
  std::uint16_t Version;
  std::uint16_t CabinetTemperature;
  std::uint16_t Humidity;
  std::uint16_t DewPoint;
};

// Declared with the protocol; no operation exchanges them.
struct TNetWorkSettings {
  std::uint16_t Version;
  std::uint16_t Config;
  std::uint32_t IPAddress;
  std::uint32_t DefaultGateway;
  std::uint16_t Port;
  std::array<std::uint8_t, 6> MAC;
  std::uint32_t CommandTimeout;
};

struct TPowerSupplyData {
  std::uint16_t Version;
  std::uint16_t Voltage;
  std::uint16_t Current;
  std::uint16_t Temperature;
  std::uint16_t Status;
};

constexpr std::size_t LaserIDSize = 100;
constexpr std::size_t LaserDataSize = 184;
constexpr std::size_t LaserDataSizeShort = 166;
constexpr std::size_t LaserDataSizeMid = 176;
constexpr std::size_t TimeDataSize = 40;
constexpr std::size_t DewPointDataSize = 8;

// Each takes exactly its record's size and returns false (Into untouched) otherwise.
bool DecodeLaserID(std::span<const std::uint8_t> Data, TLaserID& Into);
bool DecodeTimeData(std::span<const std::uint8_t> Data, TTimeData& Into);
bool DecodeDewPointData(std::span<const std::uint8_t> Data, TDewPointData& Into);
// Takes 166, 176 or 184 bytes and overwrites only the fields they hold; false (Into
// untouched) for any other size.
bool DecodeLaserData(std::span<const std::uint8_t> Data, TLaserData& Into);
// The reverse, for the simulator: the first Size (166, 176 or 184) bytes of the record.
TBytes EncodeLaserData(const TLaserData& Data, std::size_t Size);
TBytes EncodeLaserID(const TLaserID& Id);
TBytes EncodeTimeData(const TTimeData& Data);
TBytes EncodeDewPointData(const TDewPointData& Data);

// Up to 32 single-byte characters, ending at the first zero byte.
std::string SerialNumberText(const TLaserID& Id);

// ---- Stream reassembly -------------------------------------------------------------

// Where the first whole frame of In lies: Skip bytes of noise (a byte at a time, never
// a frame's start) before it, then Length bytes of frame; Length 0 when no whole frame is
// there yet (In from Skip on may be its beginning). When In starts where the previous
// frame ended (AtBoundary), a frame there is taken whole even when its CRC is wrong
// (CrcOk false): it is an answer in its place, for the analysis to reject and log, and its
// bytes are no noise to search for headers. Elsewhere a wrong CRC marks a false start,
// skipped a byte at a time.
struct TLocated {
  std::size_t Skip = 0;
  std::size_t Length = 0;
  bool CrcOk = true;
  std::size_t CrcRejects = 0; // false starts dropped for a wrong CRC
};
TLocated LocateFrame(const TCrc16& Crc, std::span<const std::uint8_t> In, bool AtBoundary);

// Joins the pieces of a TCP byte stream into whole frames. A frame is taken where a
// plausible header (one of the command codes, data size up to MaxDataSize) is followed by
// its data and a matching CRC, or by its data alone right where the previous frame (or the
// stream) ended; anything else is skipped a byte at a time, so noise never holds a frame
// back unless it looks like the start of one. A frame is handed on once, whole, and never
// in part, and the frames do not depend on how the stream was cut into reads.
class TFrameAssembler {
public:
  explicit TFrameAssembler(const TCrc16& Crc) : FCrc(Crc) {}
  // Adds received bytes; returns the frames completed by them, in order.
  std::vector<TBytes> Feed(std::span<const std::uint8_t> Bytes);
  // Forgets a partly received frame (the link was dropped).
  void Reset() {
    FBuf.clear();
    FAtBoundary = true;
  }
  std::size_t Pending() const { return FBuf.size(); }
  // Bytes skipped as noise, and of them the candidates dropped for a wrong CRC.
  std::size_t Skipped() const { return FSkipped; }
  std::size_t CrcRejects() const { return FCrcRejects; }

private:
  const TCrc16& FCrc;
  TBytes FBuf;
  bool FAtBoundary = true; // FBuf starts where a frame or the stream ended, not after noise
  std::size_t FSkipped = 0;
  std::size_t FCrcRejects = 0;
};

// ---- Status words and texts --------------------------------------------------------

// TLaserStatusYLS.
enum TLaserStatusYLS : int { lsStatus1, lsStatus2, lsAlarms1, lsAlarms2, lsWarnings1 };
using TLaserStatusYLSArr = std::array<std::uint32_t, 5>;

constexpr std::size_t AlarmWarnTextCount = 160;
// The text of bit B of status word W is entry W x 32 + B.
const std::array<const char*, AlarmWarnTextCount>& AlarmWarnTexts();

// The five words of a status record.
TLaserStatusYLSArr StatusWords(const TLaserData& Data);
// The laser class's bit numbers (1 overheat, 2 emission, 4 modulation control, ...).
bool GetStatusBit(const TLaserStatusYLSArr& Words, int Index);
bool HasAlarm(const TLaserStatusYLSArr& Words);

} // namespace nclaser::yls
