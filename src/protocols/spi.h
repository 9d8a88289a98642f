// The SPI wire protocol: short packets ESC, length, command, data, CR and an 8-bit sum,
// the same in both directions, with the command sets of the standard and the 1000 series
// and their two status layouts. Pure functions over bytes: no I/O, no threads, no host
// calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace nclaser::spi {

constexpr std::uint8_t Esc = 0x1B;
constexpr std::uint8_t Cr = 0x0D;
// ESC, length, command code, CR, sum: a packet is its data plus these.
constexpr int PacketOverhead = 5;

// Command codes of TSPILaser.
enum : std::uint8_t {
  cmdStatus = 0x01,
  cmdAlarmWarning = 0x04,
  cmdEmissionStart = 0x05,
  cmdEmissionOn = 0x07,
  cmdDiodeCurrent = 0x0A,
  cmdAiming = 0x10,
};

// Command codes of TSPI1000Laser (its status query is cmdStatus too).
enum : std::uint8_t {
  cmd1000EmissionMode = 0x16,
  cmd1000DiodeCurrent = 0x1A,
  cmd1000Emission = 0x1B,
  cmd1000Aiming = 0x1D,
};

// Byte 1 of the status answer of each layout.
constexpr std::uint8_t StatusLength = 0x03;
constexpr std::uint8_t Status1000Length = 0x0F;
// Data bytes of a 1000-series status answer the laser class reads.
constexpr int Status1000DataUsed = 9;

// The 8-bit sum of Count bytes, wrapping at 256.
std::uint8_t Checksum(const std::uint8_t* Buffer, int Count);

// ESC, n + 1, Code, Data, CR, sum. Any data length is built; whether the packet fits a
// queued command is the queue's business.
std::vector<std::uint8_t> BuildPacket(std::uint8_t Code, std::span<const std::uint8_t> Data);

// The packet check of a read: false below 4 bytes; otherwise whether the sum of all bytes
// but the last equals the last. The whole chunk counts as one packet.
bool CheckPacket(const std::uint8_t* Buffer, int Count);

// The diode-current data: Percent x 10, halves to even, as a 16-bit little-endian number
// (the low 16 bits; a value that is not a number gives 0).
std::array<std::uint8_t, 2> DiodeCurrentData(double Percent);

// The idle polls, sent as they are.
constexpr std::array<std::uint8_t, 5> StatusQuery{0x1B, 0x01, 0x01, 0x0D, 0x2A};
constexpr std::array<std::uint8_t, 5> AlarmWarningQuery{0x1B, 0x01, 0x04, 0x0D, 0x2D};

// What the standard layout's first data byte tells.
struct TSPIStatus {
  bool EmissionOn = false; // bit 0
  bool Alarm = false;      // bit 2
  bool AimingOn = false;   // bit 3
};
TSPIStatus SPIStatusFromData(std::uint8_t Data0);

// What the 1000 layout's data bytes tell; bytes beyond Count read as 0.
struct TSPI1000Status {
  bool AimingOn = false;    // data byte 1, bit 6
  bool Alarm = false;       // data byte 1, bit 7
  double ActualPower = 0.0; // data bytes 7 and 8, little-endian tenths
};
TSPI1000Status SPI1000StatusFromData(const std::uint8_t* Data, int Count);

// Whether one read is a status answer with the given length byte: the packet check
// passes, byte 2 is the status code, byte 1 is Length, and the chunk holds the whole
// packet that byte announces (a partial packet is ignored).
bool IsStatusAnswer(const std::uint8_t* Buffer, int Count, std::uint8_t Length);

// One read decoded as a status answer of each layout; nullopt when it is not one.
std::optional<TSPIStatus> DecodeSPIStatus(const std::uint8_t* Buffer, int Count);
std::optional<TSPI1000Status> DecodeSPI1000Status(const std::uint8_t* Buffer, int Count);

// Where the first packet of a byte stream lies (for the laser's side): Skip bytes before
// the first ESC, then Length bytes of packet (0 while the packet is not complete).
struct TPacketSpan {
  std::size_t Skip = 0;
  std::size_t Length = 0;
};
TPacketSpan FindPacket(std::span<const std::uint8_t> In);

} // namespace nclaser::spi
