#include "sim/yls/yls_model.h"

#include <cstdio>
#include <stdexcept>

#include "params/textbuf.h"
#include "sim/table.h"

namespace nclaser::sim {

namespace {

std::uint16_t Get16(std::span<const std::uint8_t> B, std::size_t At) {
  return At + 1 < B.size() ? static_cast<std::uint16_t>(B[At] | (B[At + 1] << 8)) : 0;
}

const bool GRegistered =
    RegisterSimFamily({"yls",
                       "IPG YLS binary frames with CRC-16 over TCP",
                       /*Pty=*/false,
                       "127.0.0.1",
                       5100,
                       [](const TSimOptions& Options) -> std::unique_ptr<TSimModel> {
                         if (!Options.empty()) {
                           throw std::invalid_argument("the yls simulator takes no options");
                         }
                         return std::make_unique<TYLSModel>();
                       },
                       "",
                       {{"yls", "TIPGYLSLaser", eltIPG, {}, [](TLaserParams& P, const TRigLink& L) {
                           P.CfgIPG.IPGType = ltYLSGemNet;
                           (void)Utf8ToTextBuf(L.TcpHost, P.CfgIPG.YLS.Net.TcpHost);
                           P.CfgIPG.YLS.Net.TcpPort = L.TcpPort;
                         }}}});

} // namespace

TYLSModel::TYLSModel() {
  (void)GRegistered;
}

TSplit TYLSModel::Split(std::span<const std::uint8_t> In) {
  // Pending requests start where the last one ended (or noise was dropped): a request
  // there with a wrong CRC is dropped whole.
  const yls::TLocated L = yls::LocateFrame(FCrc, In, true);
  if (!L.CrcOk) {
    return {L.Skip + L.Length, 0}; // a laser ignores a request with a wrong CRC
  }
  return {L.Skip, L.Length};
}

std::uint32_t TYLSModel::Status1() const {
  std::uint32_t S = 0;
  S |= FPowerSupply ? (BitPowerSupply | BitPowerReady) : 0;
  S |= FModulationCtrl ? BitModulationCtrl : 0;
  S |= FGuide ? BitGuide : 0;
  S |= FReady && FPowerSupply ? BitReady : 0;
  S |= FEmission ? BitEmission : 0;
  S |= FRobotMode ? BitRobotMode : 0;
  S |= FPowerWanted && !FPowerSupply ? BitPowerWanted : 0;
  return S;
}

void TYLSModel::SetAlarmWord(int Word, std::uint32_t Bits) {
  switch (Word) {
  case yls::lsAlarms1:
    FAlarms1 = Bits;
    break;
  case yls::lsAlarms2:
    FAlarms2 = Bits;
    break;
  case yls::lsWarnings1:
    FWarnings1 = Bits;
    break;
  default:
    throw std::invalid_argument("alarm words are 2 (Alarms1), 3 (Alarms2), 4 (Warnings1)");
  }
  // An alarm stops emission, as the laser does.
  if (yls::HasAlarm({0, 0, FAlarms1, FAlarms2, FWarnings1})) {
    FEmission = false;
  }
}

TBytes TYLSModel::StatusData() const {
  yls::TLaserData D{};
  D.version = 1;
  D.SetILD = FPumpCurrent;
  D.SetPower = FOutPower;
  D.OutputPower = FEmission ? FPumpCurrent / 10U : 0U;
  D.TemperatureMean = 253;
  D.TemperatureMin = 241;
  D.TemperatureMax = 268;
  D.WaterFlow = 120;
  D.Status1 = Status1();
  D.Alarms1 = FAlarms1;
  D.Alarms2 = FAlarms2;
  D.Warnings1 = FWarnings1;
  D.OutputPeakPower = D.OutputPower;
  D.CustomerOutputPower = D.OutputPower;
  TBytes Out = yls::EncodeLaserData(D, std::min<std::size_t>(FStatusSize, yls::LaserDataSize));
  Out.resize(FStatusSize, 0);
  return Out;
}

TBytes TYLSModel::Answer(std::uint16_t Code, std::uint16_t Exec,
                         std::span<const std::uint8_t> Data) {
  TBytes F = yls::BuildAnswer(FCrc, Code, Exec, Data);
  if (FBadCrc > 0) {
    --FBadCrc;
    F.back() ^= 0x5A;
  }
  return F;
}

TBytes TYLSModel::Handle(std::span<const std::uint8_t> Request, double NowMs) {
  if (FStartMs < 0) {
    FStartMs = NowMs;
  }
  const std::uint16_t Code = Get16(Request, 0);
  const std::span<const std::uint8_t> Data =
      Request.subspan(yls::HeaderSize, Request.size() - yls::FrameOverhead);
  const std::uint16_t Value = Get16(Data, 0);
  FCodes.push_back(Code);
  if (Code == yls::cmdSetAccessLev) {
    FAccessGranted = Data.size() == 14 && Value == 1 && Get16(Data, 2) == 100;
    return Answer(Code, FAccessGranted ? 0 : 0x0001, {});
  }
  if (!FAccessGranted) {
    return Answer(Code, yls::ExecNeedAccessLevel, {});
  }
  const auto Ack = [&] { return Answer(Code, 0, {}); };
  switch (Code) {
  case yls::cmdGetLaserID: {
    yls::TLaserID Id{};
    Id.Version = 1;
    Id.LasterProductLine = 3;
    const std::string Name = "YLS-SIM";
    std::copy(Name.begin(), Name.end(), Id.LasterID.begin());
    std::copy_n(FSerial.begin(), std::min<std::size_t>(FSerial.size(), 32), Id.LasterSN.begin());
    TBytes B = yls::EncodeLaserID(Id);
    B.resize(FIDSize, 0);
    return Answer(Code, 0, B);
  }
  case yls::cmdGetLaserStatus:
    return Answer(Code, 0, StatusData());
  case yls::cmdGetTimeData: {
    yls::TTimeData T{};
    const std::string Date = "2026-12-06";
    std::copy(Date.begin(), Date.end(), T.Date.begin());
    const double Emitting = FEmissionMs + (FEmission ? NowMs - FEmissionSinceMs : 0.0);
    T.WorkTime = static_cast<std::uint64_t>((NowMs - FStartMs) / 1000.0) + 3600;
    T.EmissionTime = static_cast<std::uint64_t>(Emitting / 1000.0);
    T.WorkTimeToday = static_cast<std::uint32_t>((NowMs - FStartMs) / 1000.0);
    T.EmissionTimeTaday = static_cast<std::uint32_t>(Emitting / 1000.0);
    return Answer(Code, 0, yls::EncodeTimeData(T));
  }
  case yls::cmdGetDewPointData:
    return Answer(Code, 0, yls::EncodeDewPointData({1, 254, 41, 115}));
  case yls::cmdPowerSupply:
    FPowerSupply = Value == 1;
    if (!FPowerSupply && FEmission) {
      FEmissionMs += NowMs - FEmissionSinceMs;
      FEmission = false;
    }
    return Ack();
  case yls::cmdSetPumpCurrent:
    FPumpCurrent = Value;
    return Ack();
  case yls::cmdSetOutPower:
    FOutPower = Value | (static_cast<std::uint32_t>(Get16(Data, 2)) << 16);
    return Ack();
  case yls::cmdEmission: {
    const bool On = Value == yls::EmissionOnValue;
    if (On && (!FPowerSupply || !FModulationCtrl ||
               yls::HasAlarm({0, 0, FAlarms1, FAlarms2, FWarnings1}))) {
      return Answer(Code, 0x0002, {}); // refused: not ready for emission
    }
    if (On && !FEmission) {
      FEmissionSinceMs = NowMs;
    } else if (!On && FEmission) {
      FEmissionMs += NowMs - FEmissionSinceMs;
    }
    FEmission = On;
    return Ack();
  }
  case yls::cmdGuideLaser:
    FGuide = Get16(Data, 2) == 1;
    return Ack();
  case yls::cmdSetOptChannel:
    return Ack();
  case yls::cmdResetNoCritError:
    FAlarms2 = 0;
    FWarnings1 = 0;
    return Ack();
  case yls::cmdAnalogCtrl:
    FAnalogCtrl = Value == 1;
    return Ack();
  case yls::cmdModulationCtrl:
    FModulationCtrl = Value == 1;
    return Ack();
  default:
    return Answer(Code, 0x0001, {});
  }
}

std::string TYLSModel::Describe(std::span<const std::uint8_t> Request) const {
  const char* Name = "?";
  switch (Get16(Request, 0)) {
  case yls::cmdGetLaserID:
    Name = "laser id";
    break;
  case yls::cmdGetLaserStatus:
    Name = "status";
    break;
  case yls::cmdGetTimeData:
    Name = "time data";
    break;
  case yls::cmdGetDewPointData:
    Name = "dew point";
    break;
  case yls::cmdSetAccessLev:
    Name = "access level";
    break;
  case yls::cmdPowerSupply:
    Name = "power supply";
    break;
  case yls::cmdSetPumpCurrent:
    Name = "pump current";
    break;
  case yls::cmdSetOutPower:
    Name = "output power";
    break;
  case yls::cmdEmission:
    Name = "emission";
    break;
  case yls::cmdGuideLaser:
    Name = "guide laser";
    break;
  case yls::cmdSetOptChannel:
    Name = "optical channel";
    break;
  case yls::cmdResetNoCritError:
    Name = "reset errors";
    break;
  case yls::cmdAnalogCtrl:
    Name = "analog control";
    break;
  case yls::cmdModulationCtrl:
    Name = "modulation control";
    break;
  default:
    break;
  }
  return std::to_string(Get16(Request, 0)) + " (" + Name + "): " + HexText(Request);
}

TSimCommands TYLSModel::Commands() {
  using TWords = const std::vector<std::string>&;
  const auto Done = [](auto Fn) {
    return [Fn](TWords W) {
      Fn(W);
      return std::string();
    };
  };
  const auto AlarmWord = [this, Done](int Word) {
    return Done([this, Word](TWords W) {
      SetAlarmWord(Word,
                   static_cast<std::uint32_t>(ParseSimBounded(W[1], 0xFFFFFFFFUL, W[0] + " BITS")));
    });
  };
  const auto Size = [this, Done](void (TYLSModel::*Set)(std::size_t)) {
    return Done(
        [this, Set](TWords W) { (this->*Set)(ParseSimBounded(W[1], 1000, W[0] + " BYTES")); });
  };
  return {
      {"alarm", "BITS", "set Alarms1 (0 clears; 0x2 is overheating)", AlarmWord(yls::lsAlarms1)},
      {"alarm2", "BITS", "set Alarms2", AlarmWord(yls::lsAlarms2)},
      {"warning", "BITS", "set Warnings1", AlarmWord(yls::lsWarnings1)},
      {"clear", "", "clear every alarm and warning bit",
       Done([this](TWords) { FAlarms1 = FAlarms2 = FWarnings1 = 0; })},
      {"fffa", "", "answer 0xFFFA until the access level is set again",
       Done([this](TWords) { RequireAccessLevel(); })},
      {"badcrc", "COUNT", "corrupt the CRC of the next COUNT answers", Done([this](TWords W) {
         CorruptCrc(static_cast<int>(ParseSimBounded(W[1], 1000000, "badcrc COUNT")));
       })},
      {"statussize", "BYTES", "status answers of 166, 176, 184 (or a wrong) size",
       Size(&TYLSModel::SetStatusSize)},
      {"idsize", "BYTES", "identification answers of 100 (or a wrong) size",
       Size(&TYLSModel::SetIDSize)},
      {"robot", OnOffArgs, "robot mode (emission start refuses)",
       Done([this](TWords W) { SetRobotMode(OnOffArg(W, 1)); })},
      {"ready", OnOffArgs, "the laser-ready bit",
       Done([this](TWords W) { SetReady(OnOffArg(W, 1)); })},
  };
}

std::string TYLSModel::StateLine() const {
  char Buf[200];
  std::snprintf(Buf, sizeof Buf,
                "supply=%d emission=%d guide=%d modulation=%d pump=%.2f%% status1=%08X "
                "alarms1=%08X alarms2=%08X warnings1=%08X access=%d",
                FPowerSupply ? 1 : 0, FEmission ? 1 : 0, FGuide ? 1 : 0, FModulationCtrl ? 1 : 0,
                FPumpCurrent / 100.0, Status1(), FAlarms1, FAlarms2, FWarnings1,
                FAccessGranted ? 1 : 0);
  return Buf;
}

} // namespace nclaser::sim
