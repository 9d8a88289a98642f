#include "sim/spi/spi_model.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "params/textbuf.h"
#include "protocols/spi.h"
#include "sim/table.h"

namespace nclaser::sim {

namespace {

void SpiLink(TLaserParams& P, const TRigLink& L) {
  P.CfgSPI.Comm.Initialize();
  P.CfgSPI.Comm.CommPort = L.CommPort;
  (void)Utf8ToTextBuf("115200,n,8,1", P.CfgSPI.Comm.CommSettings);
}

const bool GRegistered =
    RegisterSimFamily({"spi",
                       "SPI packets with an 8-bit sum (standard or 1000 series status layout)",
                       /*Pty=*/true,
                       /*TcpAddress=*/"",
                       0,
                       [](const TSimOptions& Options) {
                         auto Layout = TSPIModel::TLayout::Standard;
                         for (const auto& [Name, Value] : Options) {
                           if (Name != "model") {
                             throw std::invalid_argument("spi: unknown option " + Name);
                           }
                           if (Value == "1000") {
                             Layout = TSPIModel::TLayout::SPI1000;
                           } else if (Value != "standard") {
                             throw std::invalid_argument("spi: model 1000 or standard");
                           }
                         }
                         return std::make_unique<TSPIModel>(Layout);
                       },
                       "model 1000|standard",
                       {{"spi", "TSPILaser", eltSPI, {}, &SpiLink},
                        {"spi1000", "TSPI1000Laser", eltSPI, {{"model", "1000"}}, &SpiLink}}});

} // namespace

TSPIModel::TSPIModel(TLayout Layout) : FLayout(Layout) {}

void TSPIModel::SetAlarmBits(std::uint8_t Bits) {
  FReportStatus = FReportStatus || (FAlarmBits != 0 && Bits == 0);
  FAlarmBits = Bits;
}

TSplit TSPIModel::Split(std::span<const std::uint8_t> In) {
  const spi::TPacketSpan S = spi::FindPacket(In);
  return {S.Skip, S.Length};
}

TBytes TSPIModel::Packet(std::uint8_t Code, const TBytes& Data, bool IsStatus) const {
  TBytes P;
  if (IsStatus && FShort) {
    // Keep the length byte of the whole answer, send half the data, sum what is sent.
    const TBytes Half(Data.begin(), Data.begin() + static_cast<std::ptrdiff_t>(Data.size() / 2));
    P = spi::BuildPacket(Code, Half);
    P[1] = static_cast<std::uint8_t>(Data.size() + 1);
    P.back() = spi::Checksum(P.data(), static_cast<int>(P.size()) - 1);
  } else {
    P = spi::BuildPacket(Code, Data);
  }
  if (FBadSum) {
    ++P.back();
  }
  return P;
}

TBytes TSPIModel::StatusAnswer() const {
  if (FLayout == TLayout::Standard) {
    std::uint8_t D0 = FEmission ? 0x01 : 0x00;
    D0 |= FAlarmBits != 0 ? 0x04 : 0x00;
    D0 |= FAiming ? 0x08 : 0x00;
    return Packet(spi::cmdStatus, {D0, 0x00}, true);
  }
  TBytes D(14, 0x00);
  D[0] = FEmission ? 0x01 : 0x00;
  D[1] = static_cast<std::uint8_t>((FAiming ? 0x40 : 0x00) | (FAlarmBits != 0 ? 0x80 : 0x00));
  D[2] = FAlarmBits;
  const double Watts = FEmission && FCurrent ? *FCurrent * FMaxPower / 100.0 : 0.0;
  const auto Tenths = static_cast<unsigned>(std::lround(std::fmin(Watts * 10.0, 65535.0)));
  D[7] = static_cast<std::uint8_t>(Tenths & 0xFFU);
  D[8] = static_cast<std::uint8_t>(Tenths >> 8);
  return Packet(spi::cmdStatus, D, true);
}

// Applies one command of the layout; false for a code the layout does not have.
bool TSPIModel::Follow(std::uint8_t Code, std::span<const std::uint8_t> Data) {
  const auto Arg = [&Data]() -> int { return Data.empty() ? -1 : Data[0]; };
  const auto Current = [&Data]() -> std::optional<double> {
    if (Data.size() < 2) {
      return std::nullopt;
    }
    return static_cast<double>(Data[0] | (Data[1] << 8)) / 10.0;
  };
  if (FLayout == TLayout::Standard) {
    switch (Code) {
    case spi::cmdEmissionStart:
      FArmed = true;
      return true;
    case spi::cmdEmissionOn:
      FEmission = FArmed;
      return true;
    case spi::cmdDiodeCurrent:
      FCurrent = Current();
      return true;
    case spi::cmdAiming:
      FAiming = Arg() == 0x01;
      return true;
    default:
      return false;
    }
  }
  switch (Code) {
  case spi::cmd1000EmissionMode:
    FMode = static_cast<std::uint8_t>(Arg());
    return true;
  case spi::cmd1000Emission:
    FEmission = Arg() == 0x01;
    return true;
  case spi::cmd1000DiodeCurrent:
    FCurrent = Current();
    return true;
  case spi::cmd1000Aiming:
    FAiming = Arg() == 0x01;
    return true;
  default:
    return false;
  }
}

TBytes TSPIModel::Handle(std::span<const std::uint8_t> Request, double /*NowMs*/) {
  const int N = static_cast<int>(Request.size());
  if (!spi::CheckPacket(Request.data(), N) || N < spi::PacketOverhead) {
    ++FBadPackets;
    return {};
  }
  const std::uint8_t Code = Request[2];
  const auto Data = Request.subspan(3, Request.size() - spi::PacketOverhead);
  if (Code == spi::cmdStatus) {
    FReportStatus = false;
    return StatusAnswer();
  }
  if (Code == spi::cmdAlarmWarning && FLayout == TLayout::Standard) {
    if (FReportStatus) {
      return StatusAnswer();
    }
    return Packet(spi::cmdAlarmWarning, {FAlarmBits, 0x00}, false);
  }
  if (!Follow(Code, Data)) {
    return {};
  }
  return Packet(Code, {}, false);
}

TSimCommands TSPIModel::Commands() {
  using TWords = const std::vector<std::string>&;
  return {
      {"alarm", "BITS", "report alarm bits (0 clears)",
       [this](TWords W) {
         SetAlarmBits(static_cast<std::uint8_t>(ParseSimBounded(W[1], 0xFF, "alarm BITS")));
         return std::string(FAlarmBits != 0 ? "alarm raised" : "alarm cleared");
       }},
      {"emission", OnOffArgs, "set the emission the laser reports",
       [this](TWords W) {
         FEmission = OnOffArg(W, 1);
         return std::string();
       }},
      {"maxpower", "WATTS", "full power at 100 % (actual power of the 1000 layout)",
       [this](TWords W) {
         FMaxPower = static_cast<double>(ParseSimBounded(W[1], 6000, "maxpower WATTS"));
         return std::string();
       }},
      {"badsum", OnOffArgs, "answers carry a wrong sum",
       [this](TWords W) {
         FBadSum = OnOffArg(W, 1);
         return std::string();
       }},
      {"shortstatus", OnOffArgs, "status answers lose half their data",
       [this](TWords W) {
         FShort = OnOffArg(W, 1);
         return std::string();
       }},
  };
}

std::string TSPIModel::StateLine() const {
  char Current[32] = "none";
  if (FCurrent) {
    std::snprintf(Current, sizeof(Current), "%.1f %%", *FCurrent);
  }
  char B[160];
  std::snprintf(B, sizeof(B), "%s: emission %s, aiming %s, current %s, alarm bits 0x%02X",
                FLayout == TLayout::Standard ? "SPI" : "SPI1000", FEmission ? "on" : "off",
                FAiming ? "on" : "off", Current, FAlarmBits);
  return B;
}

} // namespace nclaser::sim
