#include "sim/jk/jk_model.h"

#include <stdexcept>

#include "protocols/jk.h"
#include "sim/table.h"

namespace nclaser::sim {

namespace {

// Data bytes (function code included) of each frame the laser understands; 0 for codes
// whose length is not known (then the next flag ends the frame).
int DataLength(std::uint8_t Fc) {
  switch (Fc) {
  case jk::fcOff:
  case jk::fcStandby:
  case jk::fcEmission:
  case jk::fcStatus:
  case jk::fcPrepare:
  case jk::fcAimingQuery:
  case jk::fcAlarm:
    return 1;
  case jk::fcAiming:
    return 2;
  case jk::fcParams:
    return 3;
  case jk::fcSetFlag:
    return 4;
  case jk::fcSetValue:
    return 7;
  default:
    return 0;
  }
}

// Unknown frames longer than this are taken as noise.
constexpr std::size_t MaxUnknownFrame = 64;

const bool GRegistered = RegisterSimFamily(
    {"jk",
     "JK/GSI framed protocol with CRC-16",
     true,
     "",
     0,
     [](const TSimOptions& Options) -> std::unique_ptr<TSimModel> {
       TJKSimOptions O;
       for (const auto& [Key, Value] : Options) {
         if (Key != "ready-delay") {
           throw std::invalid_argument("the jk simulator takes no option \"" + Key + "\"");
         }
         O.ReadyDelayMs = std::stoi(Value);
       }
       return std::make_unique<TJKModel>(O);
     },
     "ready-delay MS",
     {{"jk", "TJKLaser", eltGSI, {}, [](TLaserParams& P, const TRigLink& L) {
         P.CfgGSI.Comm.Initialize();
         P.CfgGSI.Comm.CommPort = L.CommPort;
         P.CfgGSI.Address = 1;
       }}}});

} // namespace

TJKModel::TJKModel(TJKSimOptions Options)
    : FOptions(Options), FState(Options.InitialState), FActiveParamSet(Options.ActiveParamSet) {}

bool TJKModel::CrcOk(std::span<const std::uint8_t> F) {
  if (F.size() < 6) {
    return false;
  }
  const std::uint16_t Crc = CalcCRC16(F.data() + 1, static_cast<int>(F.size()) - 4);
  return F[F.size() - 3] == (Crc & 0xFF) && F[F.size() - 2] == (Crc >> 8);
}

TSplit TJKModel::Split(std::span<const std::uint8_t> In) {
  std::size_t Skip = 0;
  for (;;) {
    while (Skip < In.size() && In[Skip] != jk::Flag) {
      ++Skip;
    }
    const auto P = In.subspan(Skip);
    if (P.size() < 3) {
      return {Skip, 0};
    }
    if (const int D = DataLength(P[2]); D > 0) {
      const std::size_t Len = static_cast<std::size_t>(D) + jk::FrameOverhead;
      if (P.size() < Len) {
        return {Skip, 0};
      }
      if (P[Len - 1] == jk::Flag) {
        return {Skip, Len};
      }
    } else {
      std::size_t End = 3;
      while (End < P.size() && P[End] != jk::Flag) {
        ++End;
      }
      if (End >= P.size() && P.size() <= MaxUnknownFrame) {
        return {Skip, 0};
      }
      if (End < P.size() && End + 1 >= 6) {
        return {Skip, End + 1};
      }
    }
    ++Skip; // not a frame start after all: resynchronise on the next flag
  }
}

TBytes TJKModel::Frame(const TBytes& Data) const {
  return jk::BuildFrame(FOptions.Address, Data);
}

TBytes TJKModel::Tick(double NowMs) {
  if (FReadyAt >= 0 && NowMs >= FReadyAt) {
    FReadyAt = -1;
    FState = 2;
  }
  return {};
}

TBytes TJKModel::Handle(std::span<const std::uint8_t> B, double NowMs) {
  if (!CrcOk(B)) {
    return {};
  }
  const auto Param = [&B](std::size_t I) { return I < B.size() ? B[I] : std::uint8_t{0}; };
  Tick(NowMs);
  switch (Param(2)) {
  case jk::fcOff:
    FState = 0;
    FReadyAt = -1;
    FAiming = false;
    break;
  case jk::fcPrepare:
    if (FState == 0) {
      FState = 1;
    }
    break;
  case jk::fcStandby:
    if (FState <= 1 && FOptions.ReadyDelayMs > 0) {
      if (FReadyAt < 0) {
        FReadyAt = NowMs + FOptions.ReadyDelayMs;
      }
    } else {
      FState = 2;
    }
    break;
  case jk::fcEmission:
    if (FState >= 2) {
      FState = 3;
    }
    break;
  case jk::fcStatus:
    if (FAlarmPending) {
      FAlarmPending = false;
      return Frame({jk::fcAlarm, 0x00, static_cast<std::uint8_t>(FAlarm >> 8),
                    static_cast<std::uint8_t>(FAlarm & 0xFF)});
    }
    return Frame({jk::fcStatus, static_cast<std::uint8_t>(FState)});
  case jk::fcAiming:
    FAiming = Param(3) == 0xFF;
    break;
  case jk::fcAimingQuery:
    return Frame({jk::fcAimingQuery, 0x00, static_cast<std::uint8_t>(FAiming ? 0xFF : 0x00)});
  case jk::fcParams: {
    // Byte 6 of the answer frame is the state, byte 21 the active parameter set.
    TBytes D(20, 0x00);
    D[0] = jk::fcParams;
    D[1] = Param(3);
    D[2] = Param(4);
    D[4] = static_cast<std::uint8_t>(FState);
    D[19] = static_cast<std::uint8_t>(FActiveParamSet);
    return Frame(D);
  }
  case jk::fcSetValue: {
    const std::int32_t V =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(Param(5)) << 24) |
                                  (static_cast<std::uint32_t>(Param(6)) << 16) |
                                  (static_cast<std::uint32_t>(Param(7)) << 8) | Param(8));
    FValues[Param(4)] = V;
    if (Param(4) == 0x05) {
      FSetPoint = V;
    }
    break;
  }
  case jk::fcSetFlag:
    FFlags[Param(4)] = Param(5);
    break;
  case jk::fcAlarm:
    FAlarmPending = false;
    return Frame({jk::fcAlarm, 0x00, static_cast<std::uint8_t>(FAlarm >> 8),
                  static_cast<std::uint8_t>(FAlarm & 0xFF)});
  default:
    break;
  }
  return {};
}

std::optional<std::uint8_t> TJKModel::Flag(std::uint8_t Param) const {
  const auto It = FFlags.find(Param);
  return It != FFlags.end() ? std::optional<std::uint8_t>(It->second) : std::nullopt;
}

std::optional<std::int32_t> TJKModel::Value(std::uint8_t Param) const {
  const auto It = FValues.find(Param);
  return It != FValues.end() ? std::optional<std::int32_t>(It->second) : std::nullopt;
}

TSimCommands TJKModel::Commands() {
  return {{"alarm", "CODE", "report alarm CODE (hex, e.g. 0102) at the next poll; 0 clears",
           [this](const std::vector<std::string>& W) {
             ReportAlarm(
                 static_cast<std::uint16_t>(ParseSimBounded(W[1], 0xFFFF, "alarm CODE", 16)));
             return std::string();
           }},
          {"state-set", "N", "force the laser state (0 off, 1 on, 2 standby, 3 emission)",
           [this](const std::vector<std::string>& W) {
             SetState(static_cast<int>(ParseSimBounded(W[1], 3, "state-set N", 10)));
             return std::string();
           }}};
}

std::string TJKModel::StateLine() const {
  std::string S = "state " + std::to_string(FState) + ", aiming " + (FAiming ? "on" : "off");
  if (FSetPoint) {
    S += ", set point " + std::to_string(*FSetPoint);
  }
  if (FAlarm != 0) {
    S += ", alarm code " + std::to_string(FAlarm);
  }
  return S;
}

} // namespace nclaser::sim
