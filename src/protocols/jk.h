// The JK/GSI wire protocol: flag-delimited binary frames with an address byte and a
// CRC-16/X-25, the laser's answers, and the data of every command the laser class sends.
// Pure functions over bytes: no I/O, no threads, no host calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace nclaser {

// CRC-16/X-25 (reflected 0x1021, initial 0xFFFF, final complement), table-driven.
// "123456789" gives 0x906E; a count of 0 or less gives 0x0000.
std::uint16_t CalcCRC16(const std::uint8_t* Buffer, int Count);

namespace jk {

constexpr std::uint8_t Flag = 0x7E;
// Frame bytes around the data: start flag, address, CRC low, CRC high, end flag.
constexpr int FrameOverhead = 5;
// The longest frame a queued command can hold, and so the most data bytes per frame.
constexpr int MaxFrame = 28;
constexpr int MaxData = MaxFrame - FrameOverhead;

// Function codes the plug-in sends or decodes.
enum : std::uint8_t {
  fcOff = 0x00,
  fcStandby = 0x01,
  fcEmission = 0x02,
  fcStatus = 0x03,
  fcPrepare = 0x05,
  fcAiming = 0x10,
  fcAimingQuery = 0x11,
  fcParams = 0x50,
  fcSetValue = 0x5D,
  fcSetFlag = 0x5F,
  fcAlarm = 0xA4,
};

// 7E, address, data, CRC low, CRC high, 7E; the CRC covers address and data. Nothing is
// escaped: a 7E inside goes out as it is. Any data length is framed; whether the frame
// fits a queued command is the queue's business.
std::vector<std::uint8_t> BuildFrame(std::uint8_t Address, std::span<const std::uint8_t> Data);

// The fixed frames, always addressed to 1.
constexpr std::array<std::uint8_t, 6> StatusRequestFrame{0x7E, 0x01, 0x03, 0x04, 0x24, 0x7E};
constexpr std::array<std::uint8_t, 6> ClosingFrame1{0x7E, 0x01, 0x01, 0x16, 0x07, 0x7E};
constexpr std::array<std::uint8_t, 6> ClosingFrame2{0x7E, 0x01, 0x00, 0x9F, 0x16, 0x7E};

// What one answer tells. Only the fields its function code carries (and that the buffer
// holds) are set.
struct TJKAnswer {
  std::uint8_t FunctionCode = 0;
  std::optional<std::int32_t> LaserStatus;    // 0x03: byte 3; 0x50: byte 6
  std::optional<bool> AimingOn;               // 0x11: byte 4 = FF
  std::optional<std::int32_t> ActiveParamSet; // 0x50: byte 21
  std::optional<std::int32_t> AlarmCode;      // 0xA4 with byte 3 = 0: bytes 4, 5
  // The codes that announce a working link (0x03, 0x11, 0x50, 0xA4).
  bool Announces() const;
};

// Decodes the first frame of what one read returned. Reads of 3 bytes or less are not
// decoded (nullopt). Flags, address and CRC are not checked: the laser's own firmware
// does not guarantee them. A field whose byte lies beyond the read is left unset.
std::optional<TJKAnswer> DecodeAnswer(const std::uint8_t* Buffer, int Count);

// Data of the commands (function code first).
std::vector<std::uint8_t> DiodeSetPointData(double Percent);
// The data ExecuteCmd queues for identifiers from 0x1000 on; nullopt for ids it ignores.
std::optional<std::vector<std::uint8_t>> ExecuteCmdData(int Id, double Value);
// The emission-on data when the laser is not ready yet (state 1 or less), in order.
std::vector<std::vector<std::uint8_t>> EmissionOnSequence();

} // namespace jk
} // namespace nclaser
